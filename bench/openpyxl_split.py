#!/usr/bin/python3
"""The fastest plain openpyxl split, as the benchmark's yardstick: read-only in,
write-only out, values only (no styles, widths, merges or views are kept).

    openpyxl_split.py SOURCE.xlsx OUTDIR
"""
import os
import sys

import openpyxl


def split(source, folder):
    book = openpyxl.load_workbook(source, read_only=True, data_only=False)
    for sheet in book.worksheets:
        out = openpyxl.Workbook(write_only=True)
        target = out.create_sheet(sheet.title)
        for row in sheet.iter_rows(values_only=True):
            target.append(row)
        out.save(os.path.join(folder, sheet.title + ".xlsx"))
    book.close()


if __name__ == "__main__":
    split(sys.argv[1], sys.argv[2])
