#!/usr/bin/python3
"""Benchmark: the extra time a split takes when formulas on other sheets were saved without
results, or with placeholders, and LibreOffice must calculate them, against a workbook whose
results are stored.

    calc_bench.py [--tabrendcli build/bin/tabrendcli] [--rows 5000] [--rounds 3]

Three workbooks of the same shape: a sheet of numbers and a sheet of --rows formulas on it,
one written by openpyxl (no results), one by XlsxWriter (placeholder results, 0, and the
request to calculate on opening), and the XlsxWriter one with its results stored and without
that request. Each is split with LibreOffice on PATH and without it; the difference of the best
times is what calculating costs. The workbook with stored results must show no extra time: it
never starts LibreOffice.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
CALCULATED = "were replaced by the values LibreOffice calculated"


def write_sources(folder, rows):
    import openpyxl
    import xlsxwriter

    resultless = os.path.join(folder, "Resultless.xlsx")
    book = openpyxl.Workbook()
    data = book.active
    data.title = "Data"
    report = book.create_sheet("Report")
    for row in range(1, rows + 1):
        data.cell(row, 1).value = row * 1.5
        report.cell(row, 1).value = f"=Data!A{row}*2"
    book.save(resultless)

    def write_xlsxwriter(path, results):
        book = xlsxwriter.Workbook(path)
        data = book.add_worksheet("Data")
        report = book.add_worksheet("Report")
        for row in range(rows):
            data.write_number(row, 0, (row + 1) * 1.5)
            report.write_formula(row, 0, f"=Data!A{row + 1}*2", None, (row + 1) * 3.0 if results else 0)
        book.close()

    placeholders = os.path.join(folder, "Placeholders.xlsx")
    write_xlsxwriter(placeholders, False)
    # XlsxWriter always asks for a calculation on opening; a workbook whose results are stored
    # (as a spreadsheet program saves it) does not.
    asking = os.path.join(folder, "Asking.xlsx")
    write_xlsxwriter(asking, True)
    stored = os.path.join(folder, "Stored.xlsx")
    with zipfile.ZipFile(asking) as source, zipfile.ZipFile(stored, "w", zipfile.ZIP_DEFLATED) as target:
        for item in source.infolist():
            data = source.read(item.filename)
            if item.filename == "xl/workbook.xml":
                data = data.replace(b' fullCalcOnLoad="1"', b"")
            target.writestr(item, data)
    return resultless, placeholders, stored


def best_split(tabrendcli, source, work, path, rounds):
    """Best wall time of rounds splits of source with PATH set to path; and the last report."""
    times, report = [], ""
    for round_number in range(rounds):
        target = tempfile.mkdtemp(prefix="out-", dir=work)
        start = time.perf_counter()
        done = subprocess.run([tabrendcli, source, target, "/verbose=1"], capture_output=True, text=True,
                              env=dict(os.environ, PATH=path))
        times.append(time.perf_counter() - start)
        if done.returncode != 0:
            sys.exit(f"tabrendcli failed with status {done.returncode}: {done.stderr}")
        report = done.stderr
        shutil.rmtree(target)
    return min(times), report


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tabrendcli", default=os.path.join(HERE, "..", "build", "bin", "tabrendcli"))
    parser.add_argument("--rows", type=int, default=5000)
    parser.add_argument("--rounds", type=int, default=3)
    arguments = parser.parse_args()
    if shutil.which("soffice") is None:
        sys.exit("soffice is not on PATH: install libreoffice-calc-nogui")

    work = tempfile.mkdtemp(prefix="tabrend-calc-bench-")
    try:
        resultless, placeholders, stored = write_sources(work, arguments.rows)
        with_office = os.environ["PATH"]
        without_office = os.path.join(work, "no-soffice")  # an empty folder: no soffice on PATH
        os.mkdir(without_office)
        print(f"workbooks: {arguments.rows} formulas on another sheet, best of {arguments.rounds} rounds")
        for label, source, expect_calculation in (("results stored", stored, False),
                                                  ("placeholder results", placeholders, True),
                                                  ("saved without results", resultless, True)):
            with_time, report = best_split(arguments.tabrendcli, source, work, with_office, arguments.rounds)
            without_time, _ = best_split(arguments.tabrendcli, source, work, without_office, arguments.rounds)
            calculated = CALCULATED in report
            if calculated != expect_calculation:
                sys.exit(f"{label}: LibreOffice {'was' if calculated else 'was not'} used:\n{report}")
            what = "LibreOffice calculated" if calculated else "LibreOffice not started"
            print(f"{label + ':':24}{with_time:6.2f} s with LibreOffice, {without_time:6.2f} s without: "
                  f"extra {with_time - without_time:+.2f} s ({what})")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
