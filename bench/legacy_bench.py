#!/usr/bin/python3
"""Benchmark: a folder of small .xls workbooks split by tabrendcli against LibreOffice's own
batch conversion of the same files.

    legacy_bench.py [--tabrendcli build/bin/tabrendcli] [--workbooks 20] [--rounds 3]

Both sides start LibreOffice with a fresh private profile and the same switches, as
tabrendcli does for every conversion: LibreOffice's side is one `soffice --convert-to xlsx` call over all the files,
tabrendcli's side is the whole folder split (conversion, then one file per sheet). Prints the
best wall time of each over the rounds and their ratio. Target: under 1.5 times.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def write_sources(folder, count):
    """count small .xls workbooks of three sheets each, written as .xlsx by XlsxWriter and
    converted to .xls by LibreOffice in one call."""
    import xlsxwriter

    drafts = os.path.join(folder, "drafts")
    os.mkdir(drafts)
    paths = []
    for n in range(count):
        path = os.path.join(drafts, f"Region {n:02d}.xlsx")
        book = xlsxwriter.Workbook(path)
        money = book.add_format({"num_format": "#,##0.00"})
        for sheet_name in ("Sales", "Costs", "Notes"):
            sheet = book.add_worksheet(sheet_name)
            sheet.write_row(0, 0, ["Item", "Quarter", "Amount"])
            for row in range(1, 41):
                sheet.write_row(row, 0, [f"Item {row}", f"Q{row % 4 + 1}"])
                sheet.write_number(row, 2, row * 12.5 + n, money)
            sheet.write_formula(41, 2, "=SUM(C2:C41)", money)
        book.close()
        paths.append(path)
    sources = os.path.join(folder, "sources")
    libreoffice(["--convert-to", "xls", "--outdir", sources] + paths, folder)
    shutil.rmtree(drafts)
    return sources


def libreoffice(arguments, folder):
    profile = tempfile.mkdtemp(prefix="profile-", dir=folder)
    try:
        # The switches and malloc setting tabrendcli starts LibreOffice with, so the ratio is
        # tabrendcli's own cost.
        environment = dict(os.environ)
        environment.setdefault("GLIBC_TUNABLES", "glibc.malloc.hugetlb=1")
        subprocess.run(["soffice", "-env:UserInstallation=file://" + profile, "--headless", "--norestore",
                        "--nolockcheck", "--nologo", "--nodefault"] + arguments, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=environment)
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def timed(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tabrendcli", default=os.path.join(HERE, "..", "build", "bin", "tabrendcli"))
    parser.add_argument("--workbooks", type=int, default=20)
    parser.add_argument("--rounds", type=int, default=3)
    arguments = parser.parse_args()
    if shutil.which("soffice") is None:
        sys.exit("soffice is not on PATH: install libreoffice-calc-nogui")

    work = tempfile.mkdtemp(prefix="tabrend-legacy-bench-")
    try:
        sources = write_sources(work, arguments.workbooks)
        files = sorted(os.path.join(sources, name) for name in os.listdir(sources))
        print(f"{len(files)} .xls workbooks, 3 sheets x 42 rows each, "
              f"{sum(os.path.getsize(f) for f in files) / 1e3:.0f} kB in all")
        ours, theirs = [], []
        for round_number in range(arguments.rounds):
            target = os.path.join(work, f"split-{round_number}")
            converted = os.path.join(work, f"converted-{round_number}")

            os.mkdir(target)  # a folder source writes into an existing output root

            def split():
                status = subprocess.run([arguments.tabrendcli, sources, target]).returncode
                if status != 0:
                    sys.exit(f"tabrendcli failed with status {status}")

            ours.append(timed(split))
            theirs.append(timed(lambda: libreoffice(["--convert-to", "xlsx", "--outdir", converted] + files, work)))
            written = sum(len(names) for _, _, names in os.walk(target))
            if written != 3 * len(files) or len(os.listdir(converted)) != len(files):
                sys.exit(f"round {round_number}: {written} sheets split, {len(os.listdir(converted))} converted")
        best_ours, best_theirs = min(ours), min(theirs)
        print(f"tabrendcli folder split:         {best_ours:.2f} s  (rounds: {', '.join(f'{t:.2f}' for t in ours)})")
        print(f"LibreOffice batch conversion:    {best_theirs:.2f} s  (rounds: {', '.join(f'{t:.2f}' for t in theirs)})")
        print(f"ratio: {best_ours / best_theirs:.2f} (target: under 1.5)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
