#!/usr/bin/python3
"""Corrections of an oblique case overlay their input in independent readers.

usage: geometry_round_trip.py CORVANE_CORRECT

An oblique case (rotated about two axes, one axis flipped, origin
(31.5, -12.25, 47)) is written by nibabel as NIfTI and by this script as
MetaImage with TransformMatrix. corvane-correct corrects it (manual and
semi-automatic) and saves .mhd and .nii.gz; nibabel (NIfTI) and VTK (MetaImage
voxels, spacing and origin; VTK 9.1 does not read TransformMatrix, so the
direction is taken from the header text) read the results back. Every
foreground voxel must lie where the input's voxel of the same index lies, the
Dice against the truth computed here in patient space must be the one
corvane-correct prints, and the voxels must be those of the same case without
geometry. Exit status 77 (skipped) when nibabel or VTK cannot be imported.
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
    from vtkmodules.vtkIOImage import vtkMetaImageReader
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


def write_mhd(path, data, ras=None):
    """MET_SHORT MetaImage; with an affine, its geometry in LPS as ITK writes it."""
    lines = ["ObjectType = Image", "NDims = 3", "BinaryData = True", "BinaryDataByteOrderMSB = False"]
    if ras is not None:
        lps = RAS_TO_LPS @ ras[:3, :]
        spacing = np.linalg.norm(lps[:, :3], axis=0)
        direction = lps[:, :3] / spacing
        # ITK's order: the direction of voxel axis x first (column by column).
        lines.append("TransformMatrix = " + " ".join("%.17g" % v for v in direction.T.ravel()))
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


def read_result(path):
    """(voxels indexed [x, y, z], voxel-to-RAS affine) read by nibabel or VTK."""
    if path.endswith(".nii.gz"):
        img = nib.load(path)
        return np.asarray(img.dataobj), img.affine
    reader = vtkMetaImageReader()
    reader.SetFileName(path)
    reader.Update()
    image = reader.GetOutput()
    dims = image.GetDimensions()
    voxels = vtk_to_numpy(image.GetPointData().GetScalars()).reshape(dims[::-1]).transpose(2, 1, 0)
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


def main(tool):
    failures = []
    truth = ellipsoid(20.0, 18.0, 7.0, 11.0, 9.0, 4.5)
    segmentation = ellipsoid(23.0, 18.0, 7.0, 11.0, 9.0, 4.5)
    scribbles = np.zeros(SIZE, dtype=np.int16)
    scribbles[10:14, 18, 7] = 2
    scribbles[32:34, 18, 7] = 3
    references = [ellipsoid(19.0, 17.0, 7.0, 10.0, 9.0, 4.5), ellipsoid(21.0, 19.0, 6.0, 12.0, 8.0, 4.0),
                  ellipsoid(20.0, 18.0, 7.0, 11.0, 10.0, 5.0)]

    with tempfile.TemporaryDirectory(prefix="corvane-geometry-") as work:
        p = lambda name: os.path.join(work, name)
        os.mkdir(p("refs"))
        for i, label in enumerate(references):
            write_mhd(p("refs/case%d_label.mhd" % i), label)
        # The same case three times: NIfTI (sform and qform, qform only, sform
        # only), MetaImage with TransformMatrix, and MetaImage without geometry.
        write_nifti(p("seg.nii.gz"), segmentation, 1, 2)
        write_nifti(p("map.nii.gz"), scribbles, 1, 0)
        write_nifti(p("truth.nii"), truth, 0, 1)
        for name, data in (("seg", segmentation), ("map", scribbles), ("truth", truth)):
            write_mhd(p(name + ".mhd"), data, oblique_ras())
            write_mhd(p("plain-" + name + ".mhd"), data)
        inputs = {"nifti": ("seg.nii.gz", "map.nii.gz", "truth.nii"), "mhd": ("seg.mhd", "map.mhd", "truth.mhd"),
                  "plain": ("plain-seg.mhd", "plain-map.mhd", "plain-truth.mhd")}
        truth_affine = nib.load(p("truth.nii")).affine
        to_truth = np.linalg.inv(truth_affine)

        for mode in ("manual", "semi"):
            plain = None
            for source in ("plain", "nifti", "mhd"):
                seg, scribble_map, gt = inputs[source]
                for output in ("out.mhd", "out.nii.gz"):
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
                    if source == "plain":
                        plain = voxels
                        continue
                    # Geometry takes no part in the correction: the same voxels.
                    check(failures, name, np.array_equal(voxels, plain), "voxels differ from the case without geometry")
                    # Every foreground voxel lies where the input's voxel of that index lies.
                    foreground = np.argwhere(voxels > 0)
                    check(failures, name, len(foreground) > 0, "empty result")
                    at = physical(affine, foreground)
                    check(failures, name, np.allclose(at, physical(oblique_ras(), foreground), atol=1e-3),
                          "foreground voxels moved")
                    # The Dice in patient space: each voxel found in the truth's grid.
                    in_truth = physical(to_truth, at)
                    index = np.rint(in_truth).astype(int)
                    check(failures, name, np.abs(in_truth - index).max() < 1e-3, "off the truth's grid")
                    inside = np.all((index >= 0) & (index < SIZE), axis=1)
                    both = int(np.count_nonzero(truth[tuple(index[inside].T)] > 0))
                    dice = 2.0 * both / (len(foreground) + np.count_nonzero(truth > 0))
                    check(failures, name, "%.4f" % dice == printed, "Dice here %.4f, printed %s" % (dice, printed))
                    # A NIfTI result from a NIfTI source keeps the source's codes.
                    if output.endswith(".nii.gz"):
                        header = nib.load(p(output)).header
                        codes = (int(header["qform_code"]), int(header["sform_code"]))
                        check(failures, name, codes == ((1, 2) if source == "nifti" else (1, 1)), str(codes))
                        # Readers that prefer the qform find the same place.
                        check(failures, name, np.allclose(header.get_qform(), header.get_sform(), atol=1e-4),
                              "qform and sform differ")
    for failure in failures:
        print("FAILED " + failure)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
