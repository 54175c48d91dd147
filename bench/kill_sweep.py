#!/usr/bin/python3
"""Interrupts tabrendcli at random points of a large split and checks what it leaves.

    kill_sweep.py --tabrendcli build/bin/tabrendcli [--points 50] [--rows 200000]

Every output must be complete (byte for byte what an uninterrupted run writes) or absent,
whatever ends the run: SIGKILL, SIGTERM, SIGINT, SIGHUP, a file-size limit, or another run
failing into the same folder at the same time. Half the points start from a folder that
already holds a complete split, which must survive. After a catchable signal nothing of the
run may be left; after SIGKILL the next run into the folder must clear what it left.

Prints how many points left anything else, and exits 1 when that is not 0. The test command
runs a few points on a smaller workbook; the full sweep is a benchmark run by hand.
"""
import argparse
import os
import random
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import make_big_workbook

STAGING_PREFIX = ".tabrend-"


def run(cli, source, out, *switches, limit_bytes=None):
    def limit():
        if limit_bytes is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit_bytes, limit_bytes))
    return subprocess.Popen([cli, source, out, *switches], preexec_fn=limit,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def contents(folder):
    return {name: open(os.path.join(folder, name), "rb").read()
            for name in sorted(os.listdir(folder)) if os.path.isfile(os.path.join(folder, name))}


def problems(folder, reference, leftovers_allowed):
    """What in folder is neither a complete output nor allowed to be there."""
    found = []
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if name.startswith(STAGING_PREFIX):
            if not leftovers_allowed:
                found.append(f"left behind: {name}")
            continue
        if name not in reference:
            found.append(f"unexpected: {name}")
        elif open(path, "rb").read() != reference[name]:
            found.append(f"incomplete or wrong: {name}")
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tabrendcli", required=True)
    parser.add_argument("--points", type=int, default=50)
    parser.add_argument("--sheets", type=int, default=8)
    parser.add_argument("--rows", type=int, default=200000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    cli = os.path.abspath(args.tabrendcli)
    rng = random.Random(args.seed)

    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "big.xlsx")
        make_big_workbook.write(source, args.sheets, args.rows, 8)
        reference_folder = os.path.join(work, "reference")
        started = time.monotonic()
        if run(cli, source, reference_folder).wait() != 0:
            sys.exit("the uninterrupted run failed")
        duration = time.monotonic() - started
        reference = contents(reference_folder)
        print(f"uninterrupted split: {len(reference)} files in {duration:.2f} s")

        kinds = ["SIGKILL", "SIGTERM", "SIGINT", "SIGHUP", "fsize", "concurrent"]
        failures = 0
        for point in range(args.points):
            kind = kinds[point % len(kinds)]
            out = os.path.join(work, f"out{point}")
            prefilled = point % 2 == 1
            if prefilled:
                shutil.copytree(reference_folder, out)
            found = []
            if kind in ("fsize", "concurrent"):
                # A run that dies of a file-size limit part way, alone or beside a good run.
                limit = rng.randint(1, max(2, sum(map(len, reference.values())) // len(reference)))
                failing = run(cli, source, out, limit_bytes=limit)
                good = None
                if kind == "concurrent":
                    time.sleep(rng.uniform(0, duration / 4))
                    good = run(cli, source, out)
                failing.wait()
                if good is not None and good.wait() != 0:
                    found.append("the good run failed")
                if good is not None and set(os.listdir(out)) != set(reference):
                    found.append("the good run's outputs are not all there")
                found += problems(out, reference, False)
            else:
                process = run(cli, source, out)
                time.sleep(rng.uniform(0, duration * 1.1))
                process.send_signal(getattr(signal, kind))
                process.wait()
                found += problems(out, reference, kind == "SIGKILL")
                if os.path.isdir(out):
                    # The next run into the folder clears what a killed one left.
                    if run(cli, source, out, "/overwrite=0").wait() != 0:
                        found.append("the next run failed")
                    found += problems(out, reference, False)
                    if set(os.listdir(out)) != set(reference):
                        found.append("the next run did not complete the split")
            if found:
                failures += 1
                print(f"point {point} ({kind}{', prefilled' if prefilled else ''}): " + "; ".join(found))
            shutil.rmtree(out, ignore_errors=True)
        print(f"kill points: {args.points}; left anything but complete files or nothing: {failures}")
        sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
