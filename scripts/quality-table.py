#!/usr/bin/python3
"""Quality of both corrections on phantom cases, as a markdown table.

For every seed: corvane-phantom writes a 512 x 512 x 32 case with 40 references,
corvane-correct corrects its segmentation in manual and in semi-automatic mode,
and corvane-evaluate measures the initial and both corrected segmentations
against the truth (one manifest per kind, so its summary rows give the mean and
sd over the seeds). Prints Dice, HD95 and ABD per region (whole, apex, mid, base).

usage: scripts/quality-table.py [--build DIR] [--work DIR] [--keep] SEED...
"""
import argparse
import csv
import os
import shutil
import subprocess
import sys
import tempfile

KINDS = [("initial", "initial segmentation"), ("manual", "manual correction"),
         ("semi", "semi-automatic correction")]
REGIONS = ["whole", "apex", "mid", "base"]
METRICS = [("dice", "Dice", "{:.4f}"), ("hd95_mm", "HD95 (mm)", "{:.2f}"), ("abd_mm", "ABD (mm)", "{:.3f}")]


def run(command):
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        sys.exit("quality-table: %s failed: %s" % (os.path.basename(command[0]), done.stderr.strip()))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("seeds", nargs="*", type=int, default=[1, 2, 3, 4, 5])
    parser.add_argument("--build", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build"))
    parser.add_argument("--work", help="folder for the cases (default: a temporary one, removed at the end)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = parser.parse_args()
    tools = os.path.join(args.build, "bin")
    work = args.work or tempfile.mkdtemp(prefix="corvane-quality-")
    os.makedirs(work, exist_ok=True)
    try:
        manifests = {kind: [] for kind, _ in KINDS}
        for seed in args.seeds:
            case = os.path.join(work, "seed%d" % seed)
            print("seed %d ..." % seed, file=sys.stderr)
            run([os.path.join(tools, "corvane-phantom"), "--out", case, "--size", "512x512x32",
                 "--references", "40", "--seed", str(seed)])
            common = ["--segmentation", os.path.join(case, "segmentation.mhd"),
                      "--scribbles", os.path.join(case, "scribbles.mhd"),
                      "--references", os.path.join(case, "references")]
            for mode in ("manual", "semi"):
                run([os.path.join(tools, "corvane-correct")] + common +
                    ["--mode", mode, "--output", os.path.join(case, mode + ".mhd")])
            truth = os.path.join("seed%d" % seed, "truth.mhd")
            manifests["initial"].append((seed, truth, os.path.join("seed%d" % seed, "segmentation.mhd")))
            for mode in ("manual", "semi"):
                manifests[mode].append((seed, truth, os.path.join("seed%d" % seed, mode + ".mhd")))

        summary = {}  # (kind, statistic, region) -> row
        for kind, _ in KINDS:
            manifest = os.path.join(work, kind + ".csv")
            with open(manifest, "w", newline="") as f:
                out = csv.writer(f)
                out.writerow(["case", "truth", "segmentation"])
                out.writerows(manifests[kind])
            result = os.path.join(work, kind + "-result.csv")
            run([os.path.join(tools, "corvane-evaluate"), "--manifest", manifest, "--csv", result])
            with open(result, newline="") as f:
                for row in csv.DictReader(f):
                    if not row["segmentation"]:
                        summary[(kind, row["case"], row["region"])] = row

        n = len(args.seeds)
        print("| region | segmentation | " + " | ".join(title for _, title, _ in METRICS) + " |")
        print("|---|---|" + "---|" * len(METRICS))
        for region in REGIONS:
            for kind, title in KINDS:
                cells = []
                for key, _, form in METRICS:
                    mean = float(summary[(kind, "mean", region)][key])
                    sd = float(summary[(kind, "sd", region)][key])
                    cells.append(form.format(mean) + ("" if n < 2 else " ± " + form.format(sd)))
                print("| %s | %s | %s |" % (region, title, " | ".join(cells)))
        print("\nmean ± sd over %d seed%s (%s)" % (n, "" if n == 1 else "s", ", ".join(map(str, args.seeds))))
    finally:
        if not args.work and not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
