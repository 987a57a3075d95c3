#!/usr/bin/python3
"""corvane-evaluate's numbers against a computation of its own, column by column.

usage: independent_metrics.py CORVANE_EVALUATE

Random label volumes (scattered voxels, ragged blobs, blobs with missing
slices, masks touching the volume's faces, empty masks) with anisotropic
spacing, an origin away from 0 and oblique direction matrices, some of them
with the z axis pointing inferior, are written as MetaImage files. Every
measure is recomputed here with numpy from voxel positions in patient space:
boundary voxels by looking at the six neighbours, distances by trying every
voxel of the other boundary, regions by sorting the truth's slices by the S
coordinate of their centres. Every column of --csv (with and without --label)
and every key of --json must agree; with nibabel, the same cases written as
NIfTI too. Exit status 77 (skipped) without numpy.
"""
import csv
import json
import math
import os
import subprocess
import sys
import tempfile

try:
    import numpy as np
except ImportError as missing:
    print("skipped: %s" % missing)
    sys.exit(77)
try:
    import nibabel
except ImportError:
    nibabel = None  # the MetaImage cases still run

COLUMNS = ["dice", "jaccard", "truth_ml", "segmentation_ml", "rvd_percent", "abd_mm", "hd95_mm", "hd_mm",
           "surface_dice_1mm", "surface_dice_2mm"]
REGIONS = ["whole", "apex", "mid", "base"]
STEPS = [(-1, 0, 0), (1, 0, 0), (0, -1, 0), (0, 1, 0), (0, 0, -1), (0, 0, 1)]


def rotation(ax, ay):
    cx, sx, cy, sy = math.cos(ax), math.sin(ax), math.cos(ay), math.sin(ay)
    rx = np.array([[1, 0, 0], [0, cx, -sx], [0, sx, cx]])
    ry = np.array([[cy, 0, sy], [0, 1, 0], [-sy, 0, cy]])
    return ry @ rx


def write_metaimage(path, labels, spacing, origin, direction):
    """labels is indexed [z, y, x]; direction's columns are the voxel axes in LPS."""
    z, y, x = labels.shape
    raw = os.path.basename(path)[:-4] + ".raw"
    matrix = " ".join(repr(float(direction[r, c])) for c in range(3) for r in range(3))
    with open(path, "w") as f:
        f.write("ObjectType = Image\nNDims = 3\nBinaryData = True\nBinaryDataByteOrderMSB = False\n"
                "TransformMatrix = %s\nOffset = %s\nElementSpacing = %s\nDimSize = %d %d %d\n"
                "ElementType = MET_SHORT\nElementDataFile = %s\n"
                % (matrix, " ".join(repr(o) for o in origin), " ".join(repr(s) for s in spacing), x, y, z, raw))
    labels.astype("<i2").tofile(os.path.join(os.path.dirname(path), raw))


def write_nifti(path, labels, spacing, origin, direction):
    """The same case as write_metaimage, as NIfTI (RAS affine, data indexed [x, y, z])."""
    lps = np.eye(4)
    lps[:3, :3] = direction @ np.diag(spacing)
    lps[:3, 3] = origin
    ras = np.diag([-1.0, -1.0, 1.0, 1.0]) @ lps
    nibabel.save(nibabel.Nifti1Image(labels.transpose(2, 1, 0).astype(np.int16), ras), path)


def boundary(mask):
    padded = np.pad(mask, 1)  # outside the volume is background
    core = padded[1:-1, 1:-1, 1:-1]
    exposed = np.zeros_like(mask)
    for dx, dy, dz in STEPS:
        neighbour = padded[1 + dz:padded.shape[0] - 1 + dz, 1 + dy:padded.shape[1] - 1 + dy,
                           1 + dx:padded.shape[2] - 1 + dx]
        exposed |= core & ~neighbour
    return np.argwhere(exposed)  # rows of (z, y, x)


def physical(indices, spacing, origin, direction):
    xyz = indices[:, ::-1].astype(float) * np.asarray(spacing)
    return xyz @ direction.T + np.asarray(origin)


def slice_regions(truth, spacing, origin, direction):
    nz, ny, nx = truth.shape
    centres = physical(np.array([[z, (ny - 1) / 2, (nx - 1) / 2] for z in range(nz)]), spacing, origin, direction)
    superior = centres[:, 2]  # LPS: +z is superior
    occupied = sorted((superior[z], z) for z in range(nz) if truth[z].any())
    n = len(occupied)
    regions = []
    for z in range(nz):
        if superior[z] < occupied[0][0]:
            regions.append("apex")
        elif superior[z] > occupied[-1][0]:
            regions.append("base")
        else:
            # The rank of this slice, or of the nearest occupied slice below it.
            i = max(k for k, (s, _) in enumerate(occupied) if s <= superior[z])
            regions.append("apex" if 3 * i < n else ("base" if 3 * i >= 2 * n else "mid"))
    return regions


def expected_rows(truth, segmentation, spacing, origin, direction):
    voxel_ml = spacing[0] * spacing[1] * spacing[2] / 1000.0
    nz = truth.shape[0]
    regions = slice_regions(truth, spacing, origin, direction) if truth.any() else None
    tb, sb = boundary(truth), boundary(segmentation)
    tp, sp = physical(tb, spacing, origin, direction), physical(sb, spacing, origin, direction)

    def directed(points, others):
        if len(others) == 0:
            return np.full(len(points), math.inf)
        return np.array([np.sqrt(((others - p) ** 2).sum(axis=1)).min() for p in points])

    pooled = [(z, d) for z, d in zip(tb[:, 0], directed(tp, sp))] + \
             [(z, d) for z, d in zip(sb[:, 0], directed(sp, tp))]
    rows = {}
    for region in REGIONS:
        if region != "whole" and regions is None:
            rows[region] = [math.nan] * len(COLUMNS)
            continue
        chosen = [z for z in range(nz) if region == "whole" or regions[z] == region]
        t, s = truth[chosen], segmentation[chosen]
        a, b, both = int(t.sum()), int(s.sum()), int((t & s).sum())
        dice = 1.0 if a + b == 0 else 2.0 * both / (a + b)
        jaccard = 1.0 if a + b - both == 0 else both / (a + b - both)
        rvd = math.nan if a == 0 else 100.0 * (b - a) / a
        pool = sorted(d for z, d in pooled if z in chosen)
        if not pool:
            distances = [0.0, 0.0, 0.0, 1.0, 1.0]
        else:
            n = len(pool)
            rank = -(-95 * n // 100)  # ceil(0.95 n) in integers
            distances = [sum(pool) / n, pool[rank - 1], pool[-1], sum(d <= 1.0 for d in pool) / n,
                         sum(d <= 2.0 for d in pool) / n]
        rows[region] = [dice, jaccard, a * voxel_ml, b * voxel_ml, rvd] + distances
    return rows


def same(got, want):
    if math.isnan(want) or math.isinf(want):
        return got == want or (math.isnan(want) and math.isnan(got))
    return abs(got - want) <= 1e-7 * max(1.0, abs(want))


def random_labels(rng, shape, kind):
    nz, ny, nx = shape
    labels = np.zeros(shape, dtype=np.int16)
    if kind == "scattered":
        labels[rng.random(shape) < 0.12] = 1
        labels[rng.random(shape) < 0.05] = 2
    elif kind == "empty":
        pass
    else:
        zz, yy, xx = np.mgrid[0:nz, 0:ny, 0:nx]
        centre = rng.random(3) * np.array(shape)
        r = 2.0 + rng.random() * 4.0
        d = np.sqrt(((zz - centre[0]) * 1.6) ** 2 + (yy - centre[1]) ** 2 + (xx - centre[2]) ** 2)
        labels[d < r + rng.random(shape) - 0.5] = 1
        labels[(d < r * 0.6) & (rng.random(shape) < 0.5)] = 2
        if kind == "gaps":
            labels[nz // 2] = 0
            labels[nz // 2 + 2:nz // 2 + 3] = 0
        elif kind == "edge":
            labels[:, :, : nx // 3] = np.where(rng.random((nz, ny, nx // 3)) < 0.8, 1, 0)
    return labels


def main():
    program = sys.argv[1]
    rng = np.random.default_rng(20261208)
    failures = 0
    with tempfile.TemporaryDirectory(prefix="corvane-independent-") as work:
        geometries = [
            ((0.7, 1.1, 2.5), (31.5, -12.25, 47.0), rotation(0.35, -0.2)),
            ((0.45, 0.45, 3.0), (-80.0, 10.5, -3.25), rotation(0.3, 0.25) @ np.diag([1.0, 1.0, -1.0])),
            ((1.3, 0.6, 1.9), (5.0, 6.0, 7.0), np.diag([1.0, -1.0, -1.0])),
            ((1.0, 0.5, 2.0), (0.0, 0.0, 0.0), np.eye(3)),  # distances of exactly 1 and 2 mm
        ]
        kinds = [("blob", "blob"), ("scattered", "blob"), ("gaps", "blob"), ("edge", "scattered"),
                 ("blob", "empty"), ("empty", "blob"), ("empty", "empty"), ("gaps", "scattered")]
        for trial in range(16):
            spacing, origin, direction = geometries[trial % len(geometries)]
            spacing = tuple(float(np.float32(s)) for s in spacing)  # the files store single precision
            shape = (int(rng.integers(4, 10)), int(rng.integers(5, 13)), int(rng.integers(5, 14)))
            truth_kind, segmentation_kind = kinds[trial % len(kinds)]
            truth = random_labels(rng, shape, truth_kind)
            segmentation = random_labels(rng, shape, segmentation_kind)
            t_path = os.path.join(work, "truth%d.mhd" % trial)
            s_path = os.path.join(work, "seg%d.mhd" % trial)
            write_metaimage(t_path, truth, spacing, origin, direction)
            write_metaimage(s_path, segmentation, spacing, origin, direction)
            runs = [(t_path, s_path, None), (t_path, s_path, 2)]
            if nibabel is not None:
                t_path, s_path = t_path[:-4] + ".nii.gz", s_path[:-4] + ".nii.gz"
                write_nifti(t_path, truth, spacing, origin, direction)
                write_nifti(s_path, segmentation, spacing, origin, direction)
                runs.append((t_path, s_path, None))
            for t_path, s_path, label in runs:
                out_csv = os.path.join(work, "out.csv")
                out_json = os.path.join(work, "out.json")
                command = [program, "--truth", t_path, "--segmentation", s_path, "--csv", out_csv, "--json", out_json]
                if label is not None:
                    command += ["--label", str(label)]
                done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                if done.returncode != 0:
                    print("trial %d: exit %d: %s" % (trial, done.returncode, done.stderr.strip()))
                    failures += 1
                    continue
                t = truth == label if label is not None else truth != 0
                s = segmentation == label if label is not None else segmentation != 0
                want = expected_rows(t, s, spacing, origin, direction)
                with open(out_csv) as f:
                    csv_rows = list(csv.DictReader(f))
                with open(out_json) as f:
                    json_rows = json.load(f)
                if [r["region"] for r in csv_rows] != REGIONS or len(json_rows) != len(csv_rows):
                    print("trial %d: unexpected rows" % trial)
                    failures += 1
                    continue
                for row, obj in zip(csv_rows, json_rows):
                    where = "trial %d (%s/%s, %s, label %s) %s" % (trial, truth_kind, segmentation_kind,
                                                                   os.path.basename(s_path), label, row["region"])
                    if row["segmentation"] != s_path or obj["segmentation"] != s_path or obj["region"] != row["region"]:
                        print("%s: segmentation or region differs" % where)
                        failures += 1
                    for column, expected in zip(COLUMNS, want[row["region"]]):
                        got = float(row[column])
                        from_json = float(obj[column])  # "nan" and "inf" are strings there
                        if not same(got, expected) or not same(from_json, expected):
                            print("%s %s: csv %s json %s, expected %r" % (where, column, row[column], obj[column],
                                                                          expected))
                            failures += 1
    print("%d differences" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
