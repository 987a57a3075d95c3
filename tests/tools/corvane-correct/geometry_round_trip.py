#!/usr/bin/python3
"""Corrections of an oblique case overlay their input in independent readers.

usage: geometry_round_trip.py CORVANE_CORRECT

An oblique case (rotated about two axes, one axis flipped, origin
(31.5, -12.25, 47)) is written by nibabel as NIfTI (the segmentation with
qform and sform, qform only or sform only; scribbles and truth with the other
forms, .nii and .nii.gz; and the case placed by pixdim alone) and by this
script as MetaImage with TransformMatrix (with and without Offset, which
MetaImage readers take as origin 0).
corvane-correct corrects it (manual and semi-automatic) and saves .mhd, .nii
and .nii.gz. nibabel and VTK read the NIfTI results back, VTK the MetaImage
ones (voxels, spacing and origin; VTK 9.1 does not read TransformMatrix, so
the direction is taken from the header text). Every foreground voxel must lie
where the input's voxel of the same index lies, the Dice against the truth
computed here in patient space must be the one corvane-correct prints, a
NIfTI result must keep the NIfTI segmentation's qform and sform codes, and the
voxels must be those of the same case without geometry. Exit status 77
(skipped) when nibabel or VTK cannot be imported.
"""
import os
import re
import subprocess
import sys
import tempfile

try:
    import nibabel as nib
    import numpy as np
    from vtkmodules.util.numpy_support import vtk_to_numpy
    from vtkmodules.vtkIOImage import vtkMetaImageReader, vtkNIFTIImageReader
except ImportError as missing:
    print("skipped: %s" % missing)
    sys.exit(77)

SIZE = (40, 36, 14)
SPACING = (0.5, 0.75, 2.0)
ORIGIN_RAS = (31.5, -12.25, 47.0)
RAS_TO_LPS = np.diag([-1.0, -1.0, 1.0])


def rotation(ax, ay):
    cx, sx, cy, sy = np.cos(ax), np.sin(ax), np.cos(ay), np.sin(ay)
    rx = np.array([[1, 0, 0], [0, cx, -sx], [0, sx, cx]])
    ry = np.array([[cy, 0, sy], [0, 1, 0], [-sy, 0, cy]])
    return ry @ rx


def oblique_ras():
    """Voxel-to-RAS affine: rotated about x and y, voxel axis y flipped."""
    a = np.eye(4)
    a[:3, :3] = rotation(0.3, -0.5) @ np.diag([SPACING[0], -SPACING[1], SPACING[2]])
    a[:3, 3] = ORIGIN_RAS
    return a


def ellipsoid(cx, cy, cz, rx, ry, rz):
    x, y, z = np.meshgrid(*(np.arange(n) for n in SIZE), indexing="ij")
    inside = ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 + ((z - cz) / rz) ** 2 <= 1.0
    return inside.astype(np.int16)


def write_mhd(path, data, ras=None, offset=True):
    """MET_SHORT MetaImage; with an affine, its geometry in LPS as ITK writes it
    (without the Offset line when asked: the affine's origin must then be 0)."""
    lines = ["ObjectType = Image", "NDims = 3", "BinaryData = True", "BinaryDataByteOrderMSB = False"]
    if ras is not None:
        lps = RAS_TO_LPS @ ras[:3, :]
        spacing = np.linalg.norm(lps[:, :3], axis=0)
        direction = lps[:, :3] / spacing
        # ITK's order: the direction of voxel axis x first (column by column).
        lines.append("TransformMatrix = " + " ".join("%.17g" % v for v in direction.T.ravel()))
        if offset:
            lines.append("Offset = " + " ".join("%.17g" % v for v in lps[:, 3]))
        lines.append("ElementSpacing = " + " ".join("%.17g" % v for v in spacing))
    lines.append("DimSize = %d %d %d" % SIZE)
    lines.append("ElementType = MET_SHORT")
    raw = os.path.splitext(path)[0] + ".raw"
    lines.append("ElementDataFile = " + os.path.basename(raw))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    with open(raw, "wb") as f:
        f.write(data.transpose(2, 1, 0).astype("<i2").tobytes())


def write_nifti(path, data, qform_code, sform_code):
    img = nib.Nifti1Image(data, None)
    img.header.set_data_dtype(np.int16)
    img.set_qform(oblique_ras() if qform_code else None, code=qform_code)
    img.set_sform(oblique_ras() if sform_code else None, code=sform_code)
    nib.save(img, path)


def vtk_voxels(image):
    dims = image.GetDimensions()
    return vtk_to_numpy(image.GetPointData().GetScalars()).reshape(dims[::-1]).transpose(2, 1, 0)


def read_nifti_with_vtk(path):
    """VTK's own reading of a NIfTI file: its output may be stored in another
    slice order than the file, with a matrix that says so."""
    reader = vtkNIFTIImageReader()
    reader.SetFileName(path)
    reader.Update()
    image = reader.GetOutput()
    header = reader.GetNIFTIHeader()
    m = reader.GetSFormMatrix() if header.GetSFormCode() > 0 else reader.GetQFormMatrix()
    world = np.array([[m.GetElement(r, c) for c in range(4)] for r in range(4)])
    grid = np.eye(4)
    grid[:3, :3] = np.diag(image.GetSpacing())
    grid[:3, 3] = image.GetOrigin()
    return vtk_voxels(image), world @ grid


def read_result(path):
    """(voxels indexed [x, y, z], voxel-to-RAS affine) read by nibabel or VTK."""
    if ".nii" in path:
        img = nib.load(path)
        return np.asarray(img.dataobj), img.affine
    reader = vtkMetaImageReader()
    reader.SetFileName(path)
    reader.Update()
    image = reader.GetOutput()
    voxels = vtk_voxels(image)
    text = open(path).read()
    direction = np.array([float(v) for v in re.search(r"^TransformMatrix = (.*)$", text, re.M).group(1).split()])
    lps = np.eye(4)
    lps[:3, :3] = direction.reshape(3, 3).T @ np.diag(image.GetSpacing())
    lps[:3, 3] = image.GetOrigin()
    return voxels, np.diag([-1.0, -1.0, 1.0, 1.0]) @ lps


def physical(affine, indices):
    return (affine @ np.vstack([indices.T, np.ones(len(indices))]))[:3].T


def check(failures, name, condition, detail=""):
    if not condition:
        failures.append("%s: %s" % (name, detail))


def grid_indices(affine, points):
    """Indices of physical points in the grid of `affine`; None when one is off the grid."""
    at = physical(np.linalg.inv(affine), points)
    index = np.rint(at).astype(int)
    return index if np.abs(at - index).max() < 1e-3 else None


def main(tool):
    failures = []
    truth = ellipsoid(20.0, 18.0, 7.0, 11.0, 9.0, 4.5)
    segmentation = ellipsoid(23.0, 18.0, 7.0, 11.0, 9.0, 4.5)
    scribbles = np.zeros(SIZE, dtype=np.int16)
    scribbles[10:14, 18, 7] = 2
    scribbles[32:34, 18, 7] = 3
    references = [ellipsoid(19.0, 17.0, 7.0, 10.0, 9.0, 4.5), ellipsoid(21.0, 19.0, 6.0, 12.0, 8.0, 4.0),
                  ellipsoid(20.0, 18.0, 7.0, 11.0, 10.0, 5.0)]
    at_zero = oblique_ras()
    at_zero[:3, 3] = 0.0

    with tempfile.TemporaryDirectory(prefix="corvane-geometry-") as work:
        p = lambda name: os.path.join(work, name)
        os.mkdir(p("refs"))
        for i, label in enumerate(references):
            write_mhd(p("refs/case%d_label.mhd" % i), label)
        write_nifti(p("seg.nii.gz"), segmentation, 1, 2)
        write_nifti(p("seg-q2.nii"), segmentation, 2, 0)
        write_nifti(p("seg-s4.nii.gz"), segmentation, 0, 4)
        write_nifti(p("map-q1.nii.gz"), scribbles, 1, 0)
        write_nifti(p("map-q1s2.nii"), scribbles, 1, 2)
        write_nifti(p("truth-s1.nii"), truth, 0, 1)
        write_nifti(p("truth-q1s2.nii.gz"), truth, 1, 2)
        for name, data in (("seg", segmentation), ("map", scribbles), ("truth", truth)):
            write_nifti(p(name + "-none.nii"), data, 0, 0)
            write_mhd(p(name + ".mhd"), data, oblique_ras())
            write_mhd(p("zero-" + name + ".mhd"), data, at_zero, offset=False)
            write_mhd(p("plain-" + name + ".mhd"), data)
        # The same case several times: (segmentation, scribbles, truth), the
        # voxel-to-RAS affine they share, and the codes of a NIfTI result.
        # Each NIfTI segmentation has one of the forms, its scribbles and truth others.
        sources = {
            # No geometry: spacing 1, origin 0, identity in LPS.
            "plain": (("plain-seg.mhd", "plain-map.mhd", "plain-truth.mhd"), np.diag([-1.0, -1.0, 1.0, 1.0]),
                      (1, 1)),
            "nifti both": (("seg.nii.gz", "map-q1.nii.gz", "truth-s1.nii"), oblique_ras(), (1, 2)),
            "nifti qform": (("seg-q2.nii", "map-q1s2.nii", "truth-s1.nii"), oblique_ras(), (2, 0)),
            "nifti sform": (("seg-s4.nii.gz", "map-q1.nii.gz", "truth-q1s2.nii.gz"), oblique_ras(), (0, 4)),
            "mhd": (("seg.mhd", "map.mhd", "truth.mhd"), oblique_ras(), (1, 1)),
            "mhd without Offset": (("zero-seg.mhd", "zero-map.mhd", "zero-truth.mhd"), at_zero, (1, 1)),
            # No qform or sform: placed by pixdim alone, which readers do by
            # conventions of their own (nibabel's here), so only NIfTI results
            # can lie where their source lies, in every reader.
            "nifti no codes": (("seg-none.nii", "map-none.nii", "truth-none.nii"), nib.load(p("seg-none.nii")).affine,
                               (0, 0)),
        }

        for mode in ("manual", "semi"):
            plain = None
            for source, ((seg, scribble_map, gt), placed, codes) in sources.items():
                for output in ("out.mhd", "out.nii", "out.nii.gz")[1 if codes == (0, 0) else 0:]:
                    name = "%s %s -> %s" % (mode, source, output)
                    arguments = [tool, "--segmentation", p(seg), "--scribbles", p(scribble_map), "--truth", p(gt),
                                 "--output", p(output), "--mode", mode, "--references", p("refs")]
                    run = subprocess.run(arguments, capture_output=True, text=True)
                    check(failures, name, run.returncode == 0 and run.stderr == "", run.stderr)
                    check(failures, name, os.path.exists(p(output)), "no file at " + p(output))
                    if run.returncode != 0 or not os.path.exists(p(output)):
                        continue
                    printed = re.search(r"^Dice after: (\S+)$", run.stdout, re.M).group(1)
                    voxels, affine = read_result(p(output))
                    if plain is None:
                        plain = voxels
                    # Geometry takes no part in the correction: the same voxels.
                    check(failures, name, np.array_equal(voxels, plain), "voxels differ from the case without geometry")
                    # Every foreground voxel lies where the input's voxel of that index lies.
                    foreground = np.argwhere(voxels > 0)
                    check(failures, name, len(foreground) > 0, "empty result")
                    at = physical(affine, foreground)
                    check(failures, name, np.allclose(at, physical(placed, foreground), atol=1e-3),
                          "foreground voxels moved")
                    # The Dice in patient space: each voxel found in the truth's grid.
                    index = grid_indices(placed, at)
                    check(failures, name, index is not None, "off the truth's grid")
                    if index is None:
                        continue
                    inside = np.all((index >= 0) & (index < SIZE), axis=1)
                    both = int(np.count_nonzero(truth[tuple(index[inside].T)] > 0))
                    dice = 2.0 * both / (len(foreground) + np.count_nonzero(truth > 0))
                    check(failures, name, "%.4f" % dice == printed, "Dice here %.4f, printed %s" % (dice, printed))
                    if ".nii" not in output:
                        continue
                    # A NIfTI result keeps a NIfTI segmentation's codes (1 and 1 otherwise).
                    header = nib.load(p(output)).header
                    written = (int(header["qform_code"]), int(header["sform_code"]))
                    check(failures, name, written == codes, "codes %s, expected %s" % (written, codes))
                    # Readers that prefer the qform find the same place.
                    if written[0] > 0 and written[1] > 0:
                        check(failures, name, np.allclose(header.get_qform(), header.get_sform(), atol=1e-4),
                              "qform and sform differ")
                    # VTK's reader places the same voxels at the same points.
                    if codes == (0, 0):
                        continue
                    vtk_data, vtk_affine = read_nifti_with_vtk(p(output))
                    vtk_foreground = np.argwhere(vtk_data > 0)
                    vtk_index = grid_indices(placed, physical(vtk_affine, vtk_foreground))
                    check(failures, name + " (VTK)", vtk_index is not None and
                          sorted(map(tuple, vtk_index)) == sorted(map(tuple, foreground)),
                          "VTK finds the foreground elsewhere")
    for failure in failures:
        print("FAILED " + failure)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
