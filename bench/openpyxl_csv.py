#!/usr/bin/python3
"""The plain openpyxl way to write each sheet as CSV, as the benchmark's yardstick: read-only,
values only (no number formats applied), the csv module.

    openpyxl_csv.py SOURCE.xlsx OUTDIR
"""
import csv
import os
import sys

import openpyxl


def split(source, folder):
    book = openpyxl.load_workbook(source, read_only=True, data_only=True)
    for sheet in book.worksheets:
        with open(os.path.join(folder, sheet.title + ".csv"), "w", newline="", encoding="utf-8") as out:
            writer = csv.writer(out)
            for row in sheet.iter_rows(values_only=True):
                writer.writerow(["" if value is None else value for value in row])
    book.close()


if __name__ == "__main__":
    split(sys.argv[1], sys.argv[2])
