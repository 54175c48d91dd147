#!/usr/bin/python3
"""Writes the workbooks the tests split, each named for what it exercises.

How to run:
    /usr/bin/python3 tests/tools/make_fixtures.py OUTDIR [--no-lo] [--only NAME,...] [--list]

OUTDIR is created if needed; existing files of the same names are replaced.
--list prints every fixture with what it exercises and exits. --no-lo skips
the LibreOffice-written variants (lo_*.xlsx) and legacy.xls. --only makes
just the named fixtures (names without extension). Exit 0 when everything
was written, 1 when a fixture failed (the others are still written).

Writers: XlsxWriter for most, openpyxl for openpyxl_*.xlsx, LibreOffice
headless (one start for all lo_*.xlsx, one more for legacy.xls) for files
with LibreOffice's own habits (shared formulas, its styles and names), and
hand-built ZIP and OLE containers for the bad inputs. Dates, document
properties and ZIP timestamps are fixed, so reruns give the same bytes for
everything but the LibreOffice-written files.
"""

import argparse
import datetime
import hashlib
import io
import os
import shutil
import struct
import sys
import tempfile
import time
import zipfile
import zlib

import xlsxwriter

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

FIXED = datetime.datetime(2024, 1, 15, 9, 30, 0)
PROPS = {"title": "Tabrend fixture", "author": "Tabrend tests", "created": FIXED}

# name -> what it exercises. Files are made by the function make_<stem>.
MANIFEST = {
    "values_types.xlsx": "numbers, big/small/negative floats, text (unicode, leading spaces, line breaks, "
                         "number-like and '='-led strings), booleans, error values, dates, times, custom "
                         "formats, styled blanks; sheets Values, Second, Dates with distinct shared strings",
    "inline_strings.xlsx": "inline strings (t=\"inlineStr\", XlsxWriter constant_memory) on two sheets",
    "formulas_cross_sheet.xlsx": "local formulas, own-sheet-qualified, cross-sheet, quoted sheet name with "
                                 "apostrophe, 3-D reference, name pointing elsewhere, sheet-scoped constant "
                                 "name, string literal that looks like a reference, TODAY(), array formulas, "
                                 "a dynamic array (metadata part), fill-down block; all with right cached "
                                 "values; sheets Data, Q'tr 1, Calc",
    "shared_formulas.xlsx": "formulas_cross_sheet with its fill-down blocks as shared formulas (one block "
                            "pointing at another sheet, one local) and a one-variable data table (t=dataTable)",
    "styles_merges_widths.xlsx": "fonts, fills, all border styles, diagonal borders, alignment, rotation, "
                                 "indent, number formats, protection; merged ranges; column "
                                 "widths, hidden and outlined columns, column styles; row heights, hidden "
                                 "and outlined rows, row styles, default row height",
    "views_panes_zoom.xlsx": "frozen panes (rows+cols, cols only), split panes, page-layout view, zoom, "
                             "hidden gridlines and headers, right-to-left, hidden zeros, tab colour, "
                             "top-left cell, selection; active tab not the first sheet",
    "page_setup_print.xlsx": "orientation, paper, margins, header/footer codes, centring, gridlines and "
                             "headings printing, print area, print titles rows+cols, fit to pages, scale, "
                             "page breaks, first page number, page order",
    "names_scoped.xlsx": "global names on one sheet, on another, on two sheets, constant name, sheet-scoped "
                         "names (same name on two sheets), a scoped name pointing at another sheet, quoted "
                         "sheet names, print areas and filter database names; formulas using them",
    "hidden_sheets.xlsx": "hidden and very hidden worksheets between visible ones",
    "chartsheet_mixed.xlsx": "worksheets and chart sheets interleaved; an embedded chart on another sheet's data",
    "date1904.xlsx": "the 1904 date system with dates and times",
    "rich_text_strings.xlsx": "rich text runs (bold, colour, italic, super/subscript), a rich string used "
                              "twice, phonetic runs (rPh, phoneticPr) on a Japanese string",
    "protection_autofilter.xlsx": "sheet protection with password and options, unlocked cells, autofilter "
                                  "with filter columns and hidden rows, both on one sheet",
    "images.xlsx": "pictures (one picture used twice and on two sheets), picture with hyperlink, text box, "
                   "background picture",
    "charts.xlsx": "charts on own data, on another sheet's data, mixed series, and a chart sheet",
    "comments.xlsx": "notes (legacy comments with VML) on two sheets, visible and hidden, with authors",
    "tables.xlsx": "tables with totals row, calculated column, style, autofilter; structured references "
                   "on the table's sheet and from another sheet",
    "cond_formats.xlsx": "cell-value, formula, colour scale, data bar (x14 extension), icon set, top-N, "
                         "duplicate rules; rules whose formula or value points at another sheet",
    "validations.xlsx": "list literal, list on own sheet, list on another sheet, list through a name on "
                        "another sheet, whole/date/custom rules with messages, decimal bound on another sheet",
    "hyperlinks.xlsx": "external URL with tooltip, mailto, relative file link, internal link on own sheet, "
                       "internal link to another sheet; a sheet whose every link goes to other sheets",
    "sparklines.xlsx": "line/column sparklines on own data and on another sheet's data (x14 extension)",
    "header_footer_images.xlsx": "header and footer pictures (legacyDrawingHF VML with images)",
    "big_styled.xlsx": "3 sheets x 2500 rows x 8 columns, shared strings reused across sheets, styles, "
                       "formulas with cached values, frozen header, autofilter",
    "strict_twin.xlsx": "two sheets with strings, styles, a merged range, a note, a picture, a chart, an "
                         "external link and a name: the Transitional workbook strict.xlsx is made from",
    "strict.xlsx": "strict_twin.xlsx in the Strict dialect as Excel writes it: Strict namespaces and "
                   "relationship types, conformance=\"strict\", dateCompatibility on workbookPr",
    "excel_revisions.xlsx": "workbook part as Excel 365 writes it: mc:Ignorable namespaces of revision marks "
                            "(xr:revisionPtr, xr2:uid on the workbook view), an absPath alternate content",
    "macros.xlsm": "macro-enabled workbook with a VBA project part and a form button (outputs must be "
                   ".xlsx without VBA)",
    "template.xltx": "template content type (.xltx) with two sheets",
    "openpyxl_named_styles.xlsx": "openpyxl writer: named styles, theme colours with tint, gradient fill, quote prefix, "
                                  "comments, validation, conditional format with dxf, and formulas WITHOUT "
                                  "cached values (one of them on another sheet)",
    "lo_*.xlsx": "LibreOffice re-saves of values_types, formulas_cross_sheet, styles_merges_widths, "
                 "views_panes_zoom, page_setup_print, names_scoped, rich_text_strings, comments, charts, "
                 "images, tables, cond_formats, validations, hyperlinks: LibreOffice's shared formulas, "
                 "styles, names and drawing habits",
    "legacy.xls": "BIFF8 workbook written by LibreOffice (\"MS Excel 97\")",
    "legacy_named_xlsx.xlsx": "the BIFF8 workbook under an .xlsx name (recognition by content)",
    "not_a_zip.xlsx": "plain text",
    "empty.xlsx": "0 bytes",
    "truncated.xlsx": "the first half of values_types.xlsx (no central directory)",
    "zip_without_workbook.xlsx": "a sound ZIP with content types and root relationships but no workbook part",
    "encrypted.xlsx": "OLE compound file with EncryptionInfo (agile descriptor) and EncryptedPackage streams",
    "billion_laughs.xlsx": "workbook.xml with a nested entity-expansion DOCTYPE",
    "external_entity.xlsx": "workbook.xml with an external (file:///etc/passwd) entity",
    "zip_bomb.xlsx": "a sheet part that inflates to 2.5 GiB of blanks from about 2.5 MB",
    "bad_xml_sheet.xlsx": "second sheet's part is not well-formed (first sheet is fine)",
    "missing_sheet_part.xlsx": "workbook lists a second sheet whose part is absent",
}


# ---------------------------------------------------------------------------
# small helpers

def png(rgb, w=24, h=16):
    """A tiny solid-colour PNG, different bytes per colour."""
    raw = b"".join(b"\x00" + bytes(rgb) * w for _ in range(h))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def new_workbook(path, **options):
    wb = xlsxwriter.Workbook(path, options)
    wb.set_properties(PROPS)
    return wb


def rewrite_zip(src, dst, edits):
    """Copy a package, replacing (bytes), editing (callable) or dropping (None) parts."""
    with zipfile.ZipFile(src) as zin:
        items = [(i, zin.read(i.filename)) for i in zin.infolist()]
    tmp = dst + ".tmp"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as zout:
        for info, data in items:
            if info.filename in edits:
                edit = edits[info.filename]
                if edit is None:
                    continue
                data = edit(data) if callable(edit) else edit
            zi = zipfile.ZipInfo(info.filename, (1980, 1, 1, 0, 0, 0))
            zi.compress_type = zipfile.ZIP_DEFLATED
            zout.writestr(zi, data)
    os.replace(tmp, dst)


def cfb(streams):
    """A version-3 OLE compound file holding the given {name: bytes} streams.

    Every stream is padded to at least 4096 bytes so that it lives in regular
    sectors and no mini stream is needed. The directory is a tiny red-black
    tree ordered as the format orders names (length first, then upper case).
    """
    sector = 512
    ENDOFCHAIN, FREESECT, FATSECT, NOSTREAM = 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFD, 0xFFFFFFFF
    names = sorted(streams, key=lambda n: (len(n), n.upper()))
    datas = []
    for n in names:
        d = streams[n]
        if len(d) < 4096:
            d = d + b"\x00" * (4096 - len(d))
        datas.append(d)
    # Sector map: 0 = FAT, 1 = directory, then each stream.
    starts, next_free = [], 2
    for d in datas:
        starts.append(next_free)
        next_free += (len(d) + sector - 1) // sector
    assert next_free <= 128, "one FAT sector holds 128 entries"
    fat = [FREESECT] * 128
    fat[0], fat[1] = FATSECT, ENDOFCHAIN
    for start, d in zip(starts, datas):
        count = (len(d) + sector - 1) // sector
        for k in range(count):
            fat[start + k] = start + k + 1 if k < count - 1 else ENDOFCHAIN

    def entry(name, kind, color, left, right, child, start, size):
        encoded = (name + "\x00").encode("utf-16-le") if name else b""
        return (encoded.ljust(64, b"\x00") + struct.pack("<HBB", len(encoded), kind, color)
                + struct.pack("<III", left, right, child) + b"\x00" * 16 + struct.pack("<I", 0)
                + b"\x00" * 16 + struct.pack("<IQ", start, size))
    # Root's child is the middle name; others hang left/right of it.
    mid = len(names) // 2
    dir_entries = [entry("Root Entry", 5, 1, NOSTREAM, NOSTREAM, 1 + mid, ENDOFCHAIN, 0)]
    for i, n in enumerate(names):
        left = 1 + i - 1 if i == mid and i > 0 else NOSTREAM
        right = 1 + i + 1 if i == mid and i + 1 < len(names) else NOSTREAM
        color = 1 if i == mid else 0
        dir_entries.append(entry(n, 2, color, left, right, NOSTREAM, starts[i], len(streams[n])))
    assert len(names) <= 3
    while len(dir_entries) < 4:
        dir_entries.append(entry("", 0, 0, NOSTREAM, NOSTREAM, NOSTREAM, 0, 0))
    header = (b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + b"\x00" * 16 + struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6)
              + b"\x00" * 6 + struct.pack("<IIIIIIIII", 0, 1, 1, 0, 4096, ENDOFCHAIN, 0, ENDOFCHAIN, 0)
              + struct.pack("<I", 0) + struct.pack("<I", FREESECT) * 108)
    assert len(header) == 512
    body = struct.pack("<128I", *fat) + b"".join(dir_entries)
    for d in datas:
        body += d.ljust(((len(d) + sector - 1) // sector) * sector, b"\x00")
    return header + body


# ---------------------------------------------------------------------------
# XlsxWriter fixtures

def make_values_types(path):
    wb = new_workbook(path)
    ws = wb.add_worksheet("Values")
    bold = wb.add_format({"bold": True})
    fmt = lambda number_format: wb.add_format({"num_format": number_format})  # noqa: E731
    ws.set_column("A:A", 22)
    ws.set_column("B:B", 28)
    ws.write_row(0, 0, ["Kind", "Value"], bold)
    rows = [
        ("integer", 42, None), ("negative", -7.5, None), ("big", 12345678901234, None),
        ("small", 1.5e-10, None), ("pi", 3.14159265358979, None), ("percent", 0.256, fmt("0.0%")),
        ("currency", 1234.5, fmt('#,##0.00 "€"')), ("scientific", 6.02e23, fmt("0.00E+00")),
        ("fraction", 0.75, fmt("# ?/?")), ("negative red", -3.25, fmt("0.00;[Red]-0.00")),
        ("thousands", 9876543.21, fmt("#,##0")), ("hidden text format", 17, fmt(";;;")),
        ("general big", 1e15, None),
    ]
    r = 1
    for label, value, f in rows:
        ws.write_string(r, 0, label)
        ws.write_number(r, 1, value, f)
        r += 1
    strings = [("text", "Plain text"), ("unicode", "Größe – 東京 – ✓ ñ"),
               ("leading spaces", "   indented"), ("number-like", "00123"),
               ("equals-led", "=not a formula"), ("quote", 'say "hi", \'there\'')]
    for label, value in strings:
        ws.write_string(r, 0, label)
        ws.write_string(r, 1, value)
        r += 1
    ws.write_string(r, 0, "line break")
    ws.write_string(r, 1, "line 1\nline 2", wb.add_format({"text_wrap": True}))
    r += 1
    ws.write_string(r, 0, "true")
    ws.write_boolean(r, 1, True)
    ws.write_string(r + 1, 0, "false")
    ws.write_boolean(r + 1, 1, False)
    r += 2
    for label, formula, value in (("div0", "=1/0", "#DIV/0!"), ("na", "=NA()", "#N/A"),
                                  ("ref", "=#REF!", "#REF!"), ("value", '="a"+1', "#VALUE!")):
        ws.write_string(r, 0, "error " + label)
        ws.write_formula(r, 1, formula, None, value)
        r += 1
    dates = [("date", datetime.date(2024, 2, 29), "yyyy-mm-dd"),
             ("datetime", datetime.datetime(2023, 12, 31, 23, 59, 58), "dd/mm/yyyy hh:mm:ss"),
             ("time", datetime.time(12, 30), "hh:mm"), ("builtin 14", datetime.date(1999, 1, 2), 14),
             ("early", datetime.date(1900, 3, 1), "d mmm yyyy")]
    for label, value, number_format in dates:
        ws.write_string(r, 0, label)
        ws.write_datetime(r, 1, value, fmt(number_format))
        r += 1
    ws.write_string(r, 0, "styled blank")
    ws.write_blank(r, 1, None, wb.add_format({"bg_color": "#DDEEFF", "border": 1}))
    second = wb.add_worksheet("Second")
    for i in range(1, 6):
        second.write_string(i - 1, 0, "only-in-second-%d" % i)
    second.write_string(5, 0, "Plain text")
    second.write_number(5, 1, 99)
    dsheet = wb.add_worksheet("Dates")
    for i, number_format in enumerate((14, 15, 22, "mmm yyyy", "dddd", "[h]:mm:ss", "yyyy-mm-dd hh:mm")):
        dsheet.write_datetime(i, 0, datetime.datetime(2020, 5, 17, 13, 45, 30), fmt(number_format))
        dsheet.write_string(i, 1, str(number_format))
    wb.close()


def make_inline_strings(path):
    wb = new_workbook(path, constant_memory=True)
    for name in ("Inline", "Inline 2"):
        ws = wb.add_worksheet(name)
        for r in range(6):
            ws.write_string(r, 0, "%s row %d" % (name, r))
            ws.write_number(r, 1, r * 1.5)
    wb.close()


def make_formulas_cross_sheet(path, data_table=False):
    wb = new_workbook(path)
    data = wb.add_worksheet("Data")
    qtr = wb.add_worksheet("Q'tr 1")
    calc = wb.add_worksheet("Calc")
    for i, v in enumerate((10, 20, 30, 40, 50)):
        data.write_number(i, 0, v)
    data.write_string(0, 1, "label")
    data.write_formula(0, 2, "=Calc!A1*2", None, 10)
    qtr.write_number(0, 0, 7)
    wb.define_name("DataTotal", "=Data!$A$1:$A$5")
    wb.define_name("Calc!LocalRate", "=0.5")
    calc.write_number("A1", 5)
    calc.write_number("A2", 6)
    cells = [
        ("B1", "=A1+A2", 11), ("B2", "=SUM(A1:A2)*2", 22), ("B3", "=Calc!A1*3", 15),
        ("C1", "=Data!A1+1", 11), ("C2", "=SUM(Data!A1:A5)", 150), ("C3", "='Q''tr 1'!A1*2", 14),
        ("C4", "=SUM(Data:Calc!A1)", 22), ("C5", "=SUM(DataTotal)", 150),
        ("C6", '=Data!B1&" x"', "label x"), ("C7", "=IF(Data!A1>5,TRUE,FALSE)", True),
        ("C8", "=Data!A1/0", "#DIV/0!"), ("D1", "=LocalRate*A1", 2.5),
        ("D2", '="Data!A1"', "Data!A1"),
    ]
    for ref, formula, value in cells:
        calc.write_formula(ref, formula, None, value)
    calc.write_formula("D3", "=TODAY()", wb.add_format({"num_format": "yyyy-mm-dd"}), 45306)
    calc.write_array_formula("E1:E1", "{=SUM(A1:A2*2)}", None, 22)
    calc.write_array_formula("F1:F2", "{=A1:A2*10}", None, 50)
    calc.write_dynamic_array_formula("G1:G2", "=_xlfn._xlws.SORT(A1:A2)", None, 5)
    for r in range(20):  # a fill-down block: LibreOffice writes these as one shared formula
        calc.write_number(r, 8, r + 1)
        calc.write_formula(r, 9, "=I%d*2+Data!$A$1" % (r + 1), None, (r + 1) * 2 + 10)
        calc.write_formula(r, 10, "=I%d*3" % (r + 1), None, (r + 1) * 3)
    if data_table:
        calc.write_number("L1", 2)
        calc.write_formula("L2", "=L1*10", None, 20)
        calc.write_formula("N2", "=L2", None, 20)
        for r, v in enumerate((1, 2, 3), start=2):
            calc.write_number(r, 12, v)
            calc.write_number(r, 13, v * 10)
    calc.activate()
    wb.close()


def make_shared_formulas(path, tmp):
    """formulas_cross_sheet with its fill-down blocks stored as shared formulas and a data table."""
    import re
    staging = os.path.join(tmp, "shared_src.xlsx")
    make_formulas_cross_sheet(staging, data_table=True)

    def share(data):
        text = data.decode("utf-8")
        for col, si, pattern in (("J", 0, r"I(\d+)\*2\+Data!\$A\$1"), ("K", 1, r"I(\d+)\*3")):
            def one(m):
                row = int(m.group(1))
                if row == 1:
                    return '<c r="%s1"><f t="shared" ref="%s1:%s20" si="%d">%s</f>' % (
                        col, col, col, si, m.group(2))
                return '<c r="%s%d"><f t="shared" si="%d"/>' % (col, row, si)
            text, n = re.subn(r'<c r="%s(\d+)"><f>(%s)</f>' % (col, pattern), one, text)
            assert n == 20, (col, n)
        text, n = re.subn(r'(<c r="N3"[^>]*>)(<v>)', r'\1<f t="dataTable" ref="N3:N5" dt2D="0" dtr="0" r1="L1"/>\2',
                          text)
        assert n == 1
        return text.encode("utf-8")
    rewrite_zip(staging, path, {"xl/worksheets/sheet3.xml": share})


def make_styles_merges_widths(path):
    wb = new_workbook(path)
    ws = wb.add_worksheet("Styled")
    F = wb.add_format
    fonts = [F({"bold": True}), F({"italic": True}), F({"underline": 1}), F({"underline": 2}),
             F({"underline": 33}), F({"font_strikeout": True}), F({"font_script": 1}),
             F({"font_script": 2}), F({"font_name": "Courier New", "font_size": 14}),
             F({"font_color": "#C00000", "bold": True, "italic": True})]
    for i, f in enumerate(fonts):
        ws.write_string(i, 0, "font %d" % i, f)
    fills = [F({"bg_color": "#FFFF00"}), F({"pattern": 5, "fg_color": "#FF0000", "bg_color": "#0000FF"}),
             F({"pattern": 18, "fg_color": "#00B050"})]
    for i, f in enumerate(fills):
        ws.write_number(i, 1, i, f)
    for style in range(14):
        ws.write_number(style, 2, style, F({"border": style, "border_color": "#7030A0" if style % 2 else "#000000"}))
    ws.write_string(0, 3, "diagonal", F({"diag_type": 3, "diag_border": 2, "diag_color": "#FF0000"}))
    ws.write_string(1, 3, "mixed edges", F({"left": 1, "right": 5, "top": 6, "bottom": 2,
                                            "left_color": "#FF0000", "bottom_color": "#00FF00"}))
    aligns = [F({"align": "center"}), F({"align": "right", "valign": "top"}), F({"text_wrap": True}),
              F({"rotation": 45}), F({"rotation": -90}), F({"rotation": 270}), F({"indent": 2}),
              F({"shrink": True}), F({"align": "justify", "valign": "vjustify"}),
              F({"align": "center_across"})]
    for i, f in enumerate(aligns):
        ws.write_string(i, 4, "align %d wraps when long enough" % i, f)
    nums = ["0.000", "#,##0.00_);(#,##0.00)", '"USD "0.00', "mm/dd/yy", "@", "0%", "[Blue]0;[Red]-0"]
    for i, number_format in enumerate(nums):
        ws.write_number(i, 5, 1234.5678 * (1 if i % 2 else -1), F({"num_format": number_format}))
    ws.write_string(0, 6, "unlocked", F({"locked": False}))
    ws.write_formula(1, 6, "=1+1", F({"hidden": True}), 2)
    merge = F({"align": "center", "valign": "vcenter", "border": 2, "bg_color": "#FCE4D6"})
    ws.merge_range("A16:C17", "merged across and down", merge)
    ws.merge_range("D16:D19", 123, merge)
    ws.merge_range("E16:F16", "", merge)
    ws.set_column("A:A", 25)
    ws.set_column("B:B", 4.5)
    ws.set_column("H:H", None, None, {"hidden": True})
    ws.set_column("I:J", 9, None, {"level": 1})
    ws.set_column("K:K", 11, None, {"level": 2, "hidden": True})
    ws.set_column("L:L", None, None, {"collapsed": True})
    ws.set_column("M:M", 13, F({"bg_color": "#E2EFDA"}))
    ws.set_column("N:P", 7)
    ws.set_row(20, 30)
    ws.set_row(21, None, None, {"hidden": True})
    for r in range(22, 25):
        ws.set_row(r, None, None, {"level": 1})
    ws.set_row(25, 22, F({"bold": True, "bg_color": "#DDEBF7"}), {"level": 2, "hidden": True})
    ws.set_row(26, None, None, {"collapsed": True})
    for r in range(20, 27):
        ws.write_number(r, 0, r)
    ws.set_default_row(16.5)
    plain = wb.add_worksheet("Plain")
    plain.set_column("A:C", 30)
    plain.write_string(0, 0, "other widths")
    wb.close()


def make_views_panes_zoom(path):
    wb = new_workbook(path)
    sheets = {}
    for name in ("Frozen", "Split", "Layout", "RightToLeft", "FrozenCols"):
        ws = wb.add_worksheet(name)
        for r in range(30):
            ws.write_row(r, 0, [r * 10 + c for c in range(10)])
        sheets[name] = ws
    sheets["Frozen"].freeze_panes(2, 1)
    sheets["Frozen"].set_zoom(150)
    sheets["Frozen"].hide_gridlines(2)
    sheets["Split"].split_panes(30, 48)
    sheets["Split"].set_selection("C3:D5")
    sheets["Layout"].set_page_view()
    sheets["Layout"].set_zoom(75)
    sheets["Layout"].hide_row_col_headers()
    rtl = sheets["RightToLeft"]
    rtl.right_to_left()
    rtl.hide_zero()
    rtl.set_tab_color("#FF9900")
    rtl.set_top_left_cell(10, 3)
    rtl.set_selection("E12:F14")
    sheets["FrozenCols"].freeze_panes(0, 3, 0, 5)
    sheets["FrozenCols"].set_tab_color("#00B0F0")
    sheets["Split"].activate()
    sheets["Split"].set_first_sheet()
    wb.close()


def make_page_setup_print(path):
    wb = new_workbook(path)
    ws = wb.add_worksheet("Report")
    for r in range(60):
        ws.write_row(r, 0, ["row %d" % r] + [r * c for c in range(1, 8)])
    ws.set_landscape()
    ws.set_paper(9)
    ws.set_margins(left=0.5, right=0.5, top=0.9, bottom=0.8)
    ws.set_header("&LLeft &CPage &P of &N&R&D &T", margin=0.4)
    ws.set_footer("&C&F - &A", margin=0.35)
    ws.center_horizontally()
    ws.center_vertically()
    ws.hide_gridlines(0)
    ws.print_row_col_headers()
    ws.print_area("A1:H40")
    ws.repeat_rows(0, 1)
    ws.repeat_columns("A:A")
    ws.fit_to_pages(1, 0)
    ws.set_h_pagebreaks([20, 40])
    ws.set_v_pagebreaks([4])
    ws.set_start_page(3)
    ws.print_across()
    other = wb.add_worksheet("Other")
    for r in range(12):
        other.write_row(r, 0, [r, r * 2, r * 3, r * 4])
    other.set_portrait()
    other.set_paper(1)
    other.set_print_scale(80)
    other.print_area("B2:D10")
    other.set_header("&CConfidential")
    wb.close()


def make_names_scoped(path):
    wb = new_workbook(path)
    alpha = wb.add_worksheet("Alpha")
    beta = wb.add_worksheet("Beta")
    gamma = wb.add_worksheet("Gamma Sheet")
    for ws in (alpha, beta, gamma):
        ws.write_column(0, 0, [1, 2, 3])
        ws.write_column(0, 1, [4, 5, 6])
        ws.write_column(0, 2, [7, 8, 9])
    wb.define_name("AlphaRange", "=Alpha!$A$1:$A$3")
    wb.define_name("BetaCell", "=Beta!$B$2")
    wb.define_name("AlphaPlusBeta", "=Alpha!$A$1+Beta!$A$1")
    wb.define_name("TaxRate", "=0.07")
    wb.define_name("Alpha!LocalName", "=Alpha!$C$1")
    wb.define_name("Beta!LocalName", "=Beta!$C$1")
    wb.define_name("Alpha!LocalToBeta", "=Beta!$A$3")
    wb.define_name("'Gamma Sheet'!GammaLocal", "='Gamma Sheet'!$A$1:$B$2")
    wb.define_name("GammaGlobal", "='Gamma Sheet'!$A$1")
    alpha.write_formula("D1", "=SUM(AlphaRange)", None, 6)
    alpha.write_formula("D2", "=BetaCell*2", None, 10)
    alpha.write_formula("D3", "=TaxRate*100", None, 7)
    alpha.write_formula("D4", "=LocalName+1", None, 8)
    alpha.write_formula("D5", "=AlphaPlusBeta", None, 2)
    beta.write_formula("D1", "=LocalName*2", None, 16)
    gamma.write_formula("D1", "=SUM(GammaLocal)+GammaGlobal", None, 13)
    alpha.print_area("A1:D5")
    beta.print_area("A1:C3")
    beta.autofilter("A1:C3")
    wb.close()


def make_hidden_sheets(path):
    wb = new_workbook(path)
    for name in ("Shown", "Hidden", "VeryHidden", "Also shown"):
        ws = wb.add_worksheet(name)
        ws.write_string(0, 0, "sheet " + name)
        if name == "Hidden":
            ws.hide()
        if name == "Also shown":
            ws.activate()
    wb.close()

    def very_hidden(data):
        return data.replace(b'name="VeryHidden" sheetId="3"', b'name="VeryHidden" sheetId="3" state="veryHidden"')
    rewrite_zip(path, path, {"xl/workbook.xml": very_hidden})


def make_chartsheet_mixed(path):
    wb = new_workbook(path)
    data = wb.add_worksheet("Data")
    data.write_column(0, 0, [3, 1, 4, 1, 5])
    data.write_column(0, 1, [2, 7, 1, 8, 2])
    c1 = wb.add_chartsheet("Chart1")
    ch = wb.add_chart({"type": "column"})
    ch.add_series({"values": "=Data!$A$1:$A$5", "name": "first"})
    c1.set_chart(ch)
    notes = wb.add_worksheet("Notes")
    notes.write_string(0, 0, "an embedded chart on Data's numbers")
    emb = wb.add_chart({"type": "line"})
    emb.add_series({"values": "=Data!$B$1:$B$5"})
    notes.insert_chart("B3", emb)
    c2 = wb.add_chartsheet("Chart2")
    ch2 = wb.add_chart({"type": "pie"})
    ch2.add_series({"values": "=Data!$B$1:$B$5"})
    c2.set_chart(ch2)
    data.activate()
    wb.close()


def make_date1904(path):
    wb = new_workbook(path, date_1904=True)
    ws = wb.add_worksheet("Dates")
    fmts = ["yyyy-mm-dd", "dd mmm yyyy hh:mm", 14, "hh:mm:ss"]
    values = [datetime.datetime(1904, 1, 1), datetime.datetime(2000, 2, 29, 6, 30),
              datetime.datetime(2024, 12, 31, 23, 0), datetime.datetime(1904, 1, 1, 8, 15, 30)]
    for r, (v, f) in enumerate(zip(values, fmts)):
        ws.write_datetime(r, 0, v, wb.add_format({"num_format": f}))
        ws.write_number(r, 1, r + 0.25)
    more = wb.add_worksheet("More")
    more.write_datetime(0, 0, datetime.date(2010, 7, 4), wb.add_format({"num_format": "yyyy-mm-dd"}))
    wb.close()


def make_rich_text_strings(path):
    wb = new_workbook(path)
    ws = wb.add_worksheet("Rich")
    bold = wb.add_format({"bold": True})
    red = wb.add_format({"font_color": "red", "italic": True})
    sup = wb.add_format({"font_script": 1})
    sub = wb.add_format({"font_script": 2})
    ws.write_rich_string("A1", "plain ", bold, "bold", " and ", red, "red italic")
    ws.write_rich_string("A2", "E=mc", sup, "2", " and H", sub, "2", "O")
    ws.write_rich_string("A3", bold, "same", " rich")
    ws.write_rich_string("A4", bold, "same", " rich")
    ws.write_string("A5", "東京")
    ws.write_string("A6", "plain next to rich")
    other = wb.add_worksheet("Other")
    other.write_rich_string("A1", "other ", bold, "sheet")
    other.write_string("A2", "other plain")
    wb.close()

    def phonetic(data):
        return data.replace("<si><t>東京</t></si>".encode(),
                            '<si><t>東京</t><rPh sb="0" eb="2"><t>トウキョウ</t></rPh>'
                            '<phoneticPr fontId="0" type="noConversion"/></si>'.encode())
    rewrite_zip(path, path, {"xl/sharedStrings.xml": phonetic})


def make_protection_autofilter(path):
    wb = new_workbook(path)
    unlocked = wb.add_format({"locked": False, "bg_color": "#FFF2CC"})
    locked = wb.add_worksheet("Locked")
    locked.write_string(0, 0, "protected sheet")
    locked.write_number(1, 0, 5, unlocked)
    locked.protect("secret", {"format_cells": True, "insert_rows": True, "sort": True,
                              "autofilter": True, "select_locked_cells": False})
    filt = wb.add_worksheet("Filtered")
    regions = ["East", "West", "North", "East", "South", "West", "East"]
    filt.write_row(0, 0, ["Region", "Units", "Price"])
    for r, reg in enumerate(regions, start=1):
        filt.write_row(r, 0, [reg, r * 3, r * 1.25])
        if reg != "East":
            filt.set_row(r, None, None, {"hidden": True})
    filt.autofilter(0, 0, len(regions), 2)
    filt.filter_column(0, "x == East")
    both = wb.add_worksheet("Both")
    both.write_row(0, 0, ["Name", "Score"])
    for r in range(1, 6):
        both.write_row(r, 0, ["n%d" % r, r * 10])
    both.autofilter("A1:B6")
    both.filter_column_list("B", [20, 40])
    for r in (1, 3, 5):
        both.set_row(r, None, None, {"hidden": True})
    both.protect("", {"autofilter": True})
    wb.close()


def make_images(path, tmp):
    wb = new_workbook(path)
    pics = {}
    for name, rgb in (("red", (220, 30, 30)), ("green", (30, 180, 60)), ("blue", (40, 60, 220))):
        pics[name] = os.path.join(tmp, name + ".png")
        with open(pics[name], "wb") as fh:
            fh.write(png(rgb))
    ws = wb.add_worksheet("Pictures")
    ws.write_string(0, 0, "pictures below")
    ws.insert_image("B2", pics["red"])
    ws.insert_image("E2", pics["green"], {"x_scale": 2, "y_scale": 1.5, "description": "green box"})
    ws.insert_image("B10", pics["red"], {"url": "https://example.com/red"})
    ws.insert_textbox("E10", "A text box\nwith two lines", {"width": 200, "height": 60,
                                                            "fill": {"color": "#FFFFCC"}})
    ws.set_background(pics["blue"])
    more = wb.add_worksheet("More")
    more.insert_image("A1", pics["red"])
    more.write_string(5, 0, "same picture as sheet 1")
    wb.close()


def make_charts(path):
    wb = new_workbook(path)
    data = wb.add_worksheet("Data")
    data.write_row(0, 0, ["Month", "North", "South"])
    for r in range(1, 7):
        data.write_row(r, 0, ["M%d" % r, r * 10, 70 - r * 5])
    charts = wb.add_worksheet("Charts")
    charts.write_column(0, 0, ["a", "b", "c", "d"])
    charts.write_column(0, 1, [4, 3, 6, 2])
    own = wb.add_chart({"type": "column"})
    own.add_series({"categories": "=Charts!$A$1:$A$4", "values": "=Charts!$B$1:$B$4", "name": "own"})
    own.set_title({"name": "Own data"})
    charts.insert_chart("D1", own)
    other = wb.add_chart({"type": "line"})
    other.add_series({"categories": "=Data!$A$2:$A$7", "values": "=Data!$B$2:$B$7", "name": "=Data!$B$1"})
    other.set_title({"name": "Other sheet's data"})
    charts.insert_chart("D17", other)
    mixed = wb.add_chart({"type": "bar"})
    mixed.add_series({"values": "=Charts!$B$1:$B$4", "name": "own"})
    mixed.add_series({"values": "=Data!$C$2:$C$5", "name": "from Data"})
    charts.insert_chart("L1", mixed)
    sheet = wb.add_chartsheet("Chart sheet")
    cs = wb.add_chart({"type": "area"})
    cs.add_series({"values": "=Data!$C$2:$C$7"})
    sheet.set_chart(cs)
    charts.activate()
    wb.close()


def make_comments(path):
    wb = new_workbook(path)
    wb.set_custom_property("fixture", "comments")
    ws = wb.add_worksheet("Notes")
    ws.set_comments_author("Reviewer")
    ws.write_string("A1", "has a note")
    ws.write_comment("A1", "First note")
    ws.write_number("B3", 12)
    ws.write_comment("B3", "Visible note by Ann", {"visible": True, "author": "Ann", "color": "#CCFFCC"})
    ws.write_string("C5", "long")
    ws.write_comment("C5", "A long note " * 20, {"x_scale": 2, "y_scale": 2, "font_size": 10})
    other = wb.add_worksheet("Other")
    other.write_string("A1", "note on the other sheet")
    other.write_comment("A1", "Other sheet's note")
    wb.close()


def make_tables(path):
    wb = new_workbook(path)
    sales = wb.add_worksheet("Sales")
    rows = [["East", 10, 12], ["West", 20, 18], ["North", 5, 9], ["South", 14, 16]]
    sales.add_table("A1:D6", {
        "name": "SalesTbl", "style": "Table Style Medium 9", "total_row": True,
        "data": rows,
        "columns": [{"header": "Region", "total_string": "Total"},
                    {"header": "Q1", "total_function": "sum", "total_value": 49},
                    {"header": "Q2", "total_function": "sum", "total_value": 55},
                    {"header": "Total", "formula": "=[@Q1]+[@Q2]", "total_function": "sum",
                     "total_value": 104}],
    })
    for r, (_, q1, q2) in enumerate(rows, start=1):
        sales.write_formula(r, 3, "=SalesTbl[[#This Row],[Q1]]+SalesTbl[[#This Row],[Q2]]", None, q1 + q2)
    sales.write_formula("F1", "=SUM(SalesTbl[Total])", None, 104)
    lookup = wb.add_worksheet("Lookup")
    lookup.add_table("B2:C5", {"name": "RatesTbl", "style": "Table Style Light 1",
                               "data": [["A", 0.1], ["B", 0.2], ["C", 0.3]],
                               "columns": [{"header": "Code"}, {"header": "Rate"}]})
    lookup.write_formula("E2", "=SUM(SalesTbl[Q1])", None, 49)
    lookup.write_formula("E3", "=SUM(RatesTbl[Rate])", None, 0.6)
    wb.close()


def make_cond_formats(path):
    wb = new_workbook(path)
    ws = wb.add_worksheet("Rules")
    limits = wb.add_worksheet("Limits")
    red = wb.add_format({"bold": True, "font_color": "#9C0006", "bg_color": "#FFC7CE"})
    green = wb.add_format({"bg_color": "#C6EFCE"})
    for r in range(10):
        ws.write_row(r, 0, [r, r * 2 % 7, r * 3 % 11, r % 4, r, r, r * 5 % 9, r % 3])
    ws.conditional_format("A1:A10", {"type": "cell", "criteria": ">", "value": 5, "format": red})
    ws.conditional_format("B1:B10", {"type": "3_color_scale"})
    ws.conditional_format("C1:C10", {"type": "data_bar", "bar_color": "#63BE7B", "data_bar_2010": True})
    ws.conditional_format("D1:D10", {"type": "icon_set", "icon_style": "3_traffic_lights"})
    ws.conditional_format("E1:E10", {"type": "formula", "criteria": "=$A1>Limits!$A$1", "format": green})
    ws.conditional_format("F1:F10", {"type": "cell", "criteria": ">", "value": "Limits!$B$1", "format": red})
    ws.conditional_format("G1:G10", {"type": "top", "value": 3, "format": green})
    ws.conditional_format("H1:H10", {"type": "duplicate", "format": red})
    limits.write_number("A1", 5)
    limits.write_number("B1", 3)
    limits.conditional_format("A1:B1", {"type": "cell", "criteria": "<", "value": 4, "format": green})
    wb.close()


def make_validations(path):
    wb = new_workbook(path)
    form = wb.add_worksheet("Form")
    lists = wb.add_worksheet("Lists")
    lists.write_column(0, 0, ["alpha", "beta", "gamma", "delta"])
    lists.write_column(0, 1, ["red", "green", "blue"])
    lists.write_number(0, 2, 2.5)
    wb.define_name("ColorList", "=Lists!$B$1:$B$3")
    form.write_column(0, 4, ["one", "two", "three"])
    for r, label in enumerate(["literal list", "own-sheet list", "other-sheet list", "list via name",
                               "whole 1-10", "date", "custom", "decimal bound elsewhere"]):
        form.write_string(r, 6, label)
    form.data_validation("A1", {"validate": "list", "source": ["Yes", "No", "Maybe"]})
    form.data_validation("A2", {"validate": "list", "source": "=$E$1:$E$3"})
    form.data_validation("A3", {"validate": "list", "source": "=Lists!$A$1:$A$4"})
    form.data_validation("A4", {"validate": "list", "source": "=ColorList"})
    form.data_validation("A5", {"validate": "integer", "criteria": "between", "minimum": 1, "maximum": 10,
                                "input_title": "Whole number", "input_message": "1 to 10",
                                "error_title": "Out of range", "error_message": "Use 1-10"})
    form.data_validation("A6", {"validate": "date", "criteria": ">", "value": datetime.date(2024, 1, 1)})
    form.data_validation("A7", {"validate": "custom", "value": "=LEN(A7)<5"})
    form.data_validation("A8", {"validate": "decimal", "criteria": "<", "value": "=Lists!$C$1"})
    wb.close()


def make_hyperlinks(path):
    wb = new_workbook(path)
    ws = wb.add_worksheet("Links")
    other = wb.add_worksheet("Other Sheet")
    ws.write_url("A1", "https://example.com/page?a=1&b=2", None, "Example", "Tooltip text")
    ws.write_url("A2", "mailto:someone@example.com", None, "Mail")
    ws.write_url("A3", "internal:Links!A10", None, "to own A10")
    ws.write_url("A4", "internal:'Other Sheet'!B2", None, "to other sheet")
    ws.write_url("A5", "external:../docs/file.xlsx", None, "relative file")
    ws.write_string("A10", "target")
    other.write_url("A1", "internal:Links!A1", None, "back")
    other.write_url("A2", "https://example.org/", None, "org")
    elsewhere = wb.add_worksheet("Index")
    elsewhere.write_url("A1", "internal:Links!A1", None, "links")
    elsewhere.write_url("A2", "internal:'Other Sheet'!A1", None, "other sheet")
    wb.close()


def make_strict_twin(path, tmp):
    wb = new_workbook(path)
    picture = os.path.join(tmp, "strict.png")
    with open(picture, "wb") as fh:
        fh.write(png((200, 120, 40)))
    ws = wb.add_worksheet("Report")
    bold = wb.add_format({"bold": True, "bg_color": "#DDEEFF", "border": 1})
    ws.merge_range("A1:C1", "Quarterly report", bold)
    ws.write_row(1, 0, ["North", 12.5, datetime.datetime(2024, 3, 31)], None)
    ws.write_row(2, 0, ["South", 7.25, datetime.datetime(2024, 6, 30)], None)
    ws.set_column("C:C", 14, wb.add_format({"num_format": "yyyy-mm-dd"}))
    ws.write_formula("B4", "=SUM(B2:B3)", None, 19.75)
    ws.write_comment("A2", "largest region")
    ws.write_url("A6", "https://example.com/report", None, "source")
    ws.insert_image("E2", picture)
    chart = wb.add_chart({"type": "column"})
    chart.add_series({"categories": "=Report!$A$2:$A$3", "values": "=Report!$B$2:$B$3", "name": "Sales"})
    ws.insert_chart("E8", chart)
    wb.define_name("Total", "=Report!$B$4")
    notes = wb.add_worksheet("Notes")
    notes.write_string("A1", "North")
    wb.close()


def make_strict(path, tmp):
    twin = os.path.join(os.path.dirname(path), "strict_twin.xlsx")
    if not os.path.exists(twin):
        make_strict_twin(twin, tmp)
    strict = {"http://schemas.openxmlformats.org/spreadsheetml/2006/main":
              "http://purl.oclc.org/ooxml/spreadsheetml/main",
              "http://schemas.openxmlformats.org/officeDocument/2006/extended-properties":
              "http://purl.oclc.org/ooxml/officeDocument/extendedProperties",
              "http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties":
              "http://purl.oclc.org/ooxml/officeDocument/relationships/extendedProperties",
              "http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes":
              "http://purl.oclc.org/ooxml/officeDocument/docPropsVTypes",
              "http://schemas.openxmlformats.org/officeDocument/2006/relationships":
              "http://purl.oclc.org/ooxml/officeDocument/relationships"}
    for name in ("main", "chart", "spreadsheetDrawing", "picture"):
        strict["http://schemas.openxmlformats.org/drawingml/2006/" + name] = "http://purl.oclc.org/ooxml/drawingml/" + name

    def to_strict(data):
        # Longest first: the relationships namespace is the start of its types.
        for transitional in sorted(strict, key=len, reverse=True):
            data = data.replace(transitional.encode(), strict[transitional].encode())
        # Excel keeps the notes' VML under its Transitional type.
        return data.replace(b"http://purl.oclc.org/ooxml/officeDocument/relationships/vmlDrawing",
                            b"http://schemas.openxmlformats.org/officeDocument/2006/relationships/vmlDrawing")

    def workbook(data):
        data = to_strict(data)
        data = data.replace(b"<workbook ", b'<workbook conformance="strict" ', 1)
        return data.replace(b"<workbookPr", b'<workbookPr dateCompatibility="0"', 1)

    with zipfile.ZipFile(twin) as z:
        names = [n for n in z.namelist() if n.endswith((".xml", ".rels"))]
    edits = {n: to_strict for n in names}
    edits["xl/workbook.xml"] = workbook
    rewrite_zip(twin, path, edits)


def make_excel_revisions(path):
    wb = new_workbook(path)
    ws = wb.add_worksheet("Figures")
    ws.write_row(0, 0, ["Item", "Amount"])
    ws.write_row(1, 0, ["Rent", 1200])
    wb.add_worksheet("Other").write_string(0, 0, "second sheet")
    wb.close()

    def excel365(data):
        ns = {"mc": "http://schemas.openxmlformats.org/markup-compatibility/2006",
              "x15": "http://schemas.microsoft.com/office/spreadsheetml/2010/11/main",
              "xr": "http://schemas.microsoft.com/office/spreadsheetml/2014/revision",
              "xr6": "http://schemas.microsoft.com/office/revision/2016/07",
              "xr10": "http://schemas.microsoft.com/office/revision/2016/08",
              "xr2": "http://schemas.microsoft.com/office/spreadsheetml/2015/revision2"}
        declarations = b"".join(b' xmlns:%s="%s"' % (k.encode(), v.encode()) for k, v in ns.items())
        data = data.replace(b'<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"',
                            b'<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
                            + declarations + b' mc:Ignorable="x15 xr xr6 xr10 xr2"', 1)
        data = data.replace(b"<bookViews>", b'<mc:AlternateContent><mc:Choice Requires="x15"><x15ac:absPath '
                            b'xmlns:x15ac="http://schemas.microsoft.com/office/spreadsheetml/2010/11/ac" '
                            b'url="C:\\Reports\\"/></mc:Choice></mc:AlternateContent><xr:revisionPtr '
                            b'revIDLastSave="0" documentId="8_{5B1A6B7E-0C2D-4E8A-9A41-2B1C3D4E5F60}" '
                            b'xr6:coauthVersionLast="47" xr6:coauthVersionMax="47" '
                            b'xr10:uidLastSave="{00000000-0000-0000-0000-000000000000}"/><bookViews>', 1)
        return data.replace(b"<workbookView ", b'<workbookView xr2:uid="{3A2B1C4D-5E6F-4A7B-8C9D-0E1F2A3B4C5D}" ', 1)

    rewrite_zip(path, path, {"xl/workbook.xml": excel365})


def make_sparklines(path):
    wb = new_workbook(path)
    ws = wb.add_worksheet("Spark")
    src = wb.add_worksheet("Source")
    for r in range(3):
        ws.write_row(r, 0, [(r + 1) * c % 7 for c in range(1, 6)])
    src.write_row(0, 0, [5, 1, 4, 2, 3])
    ws.add_sparkline("F1", {"range": "Spark!A1:E1"})
    ws.add_sparkline("F2", {"range": "Spark!A2:E2", "markers": True, "type": "line"})
    ws.add_sparkline("F3", {"range": "Spark!A3:E3", "type": "column", "high_point": True})
    ws.add_sparkline("F4", {"range": "Source!A1:E1", "type": "column"})
    wb.close()


def make_header_footer_images(path, tmp):
    wb = new_workbook(path)
    left = os.path.join(tmp, "hf_left.png")
    right = os.path.join(tmp, "hf_right.png")
    with open(left, "wb") as fh:
        fh.write(png((250, 200, 0), 40, 12))
    with open(right, "wb") as fh:
        fh.write(png((0, 120, 200), 20, 20))
    ws = wb.add_worksheet("HF")
    ws.write_string(0, 0, "header and footer pictures")
    ws.set_header("&L&G&CTitle", {"image_left": left})
    ws.set_footer("&R&G", {"image_right": right})
    plain = wb.add_worksheet("Plain")
    plain.write_string(0, 0, "no pictures")
    wb.close()


def make_big_styled(path, rows=2500):
    wb = new_workbook(path)
    header = wb.add_format({"bold": True, "bg_color": "#1F4E78", "font_color": "#FFFFFF", "border": 1})
    stripe = [wb.add_format({"bg_color": "#F2F2F2"}), wb.add_format({})]
    money = [wb.add_format({"num_format": "#,##0.00", "bg_color": "#F2F2F2"}), wb.add_format({"num_format": "#,##0.00"})]
    date = wb.add_format({"num_format": "yyyy-mm-dd"})
    pct = wb.add_format({"num_format": "0.0%", "italic": True})
    pool = ["category %03d" % i for i in range(200)]
    base = datetime.date(2020, 1, 1)
    for s in range(1, 4):
        ws = wb.add_worksheet("Big %d" % s)
        ws.write_row(0, 0, ["Id", "Category", "Amount", "Date", "Flag", "Double", "Note", "Share"], header)
        ws.set_column("A:A", 8)
        ws.set_column("B:B", 16)
        ws.set_column("G:G", 24)
        ws.freeze_panes(1, 0)
        ws.autofilter(0, 0, rows, 7)
        for r in range(1, rows + 1):
            k = r % 2
            amount = (r * 37 % 1000) / 4.0
            ws.write_number(r, 0, r, stripe[k])
            ws.write_string(r, 1, pool[(r * s) % 200], stripe[k])
            ws.write_number(r, 2, amount, money[k])
            ws.write_datetime(r, 3, base + datetime.timedelta(days=r % 900), date)
            ws.write_boolean(r, 4, r % 3 == 0)
            ws.write_formula(r, 5, "=C%d*2" % (r + 1), money[k], amount * 2)
            ws.write_string(r, 6, "sheet %d row %d" % (s, r))
            ws.write_number(r, 7, (r % 100) / 100.0, pct)
    wb.close()


def make_macros(path, tmp):
    wb = new_workbook(path)
    vba = os.path.join(tmp, "vbaProject.bin")
    with open(vba, "wb") as fh:
        fh.write(cfb({"PROJECT": b'ID="{00000000-0000-0000-0000-000000000000}"\r\nName="VBAProject"\r\n'}))
    wb.add_vba_project(vba)
    main = wb.add_worksheet("Main")
    main.write_string(0, 0, "sheet with a button")
    main.insert_button("C2", {"macro": "say_hello", "caption": "Press"})
    second = wb.add_worksheet("Second")
    second.write_number(0, 0, 1)
    wb.close()


def make_template(path, tmp):
    staging = os.path.join(tmp, "template_src.xlsx")
    wb = new_workbook(staging)
    for name in ("Form", "Reference"):
        ws = wb.add_worksheet(name)
        ws.write_string(0, 0, name + " of a template")
    wb.close()
    main = b"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"
    tmpl = b"application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml"
    rewrite_zip(staging, path, {"[Content_Types].xml": lambda d: d.replace(main, tmpl)})


# ---------------------------------------------------------------------------
# openpyxl fixture

def make_openpyxl_named_styles(path):
    import openpyxl
    from openpyxl.comments import Comment
    from openpyxl.formatting.rule import CellIsRule
    from openpyxl.styles import Alignment, Border, Font, GradientFill, NamedStyle, PatternFill, Side
    from openpyxl.styles.colors import Color
    from openpyxl.worksheet.datavalidation import DataValidation
    wb = openpyxl.Workbook()
    wb.properties.created = FIXED
    wb.properties.modified = FIXED
    ws = wb.active
    ws.title = "Styled"
    other = wb.create_sheet("Other")
    other["A1"] = 41
    highlight = NamedStyle(name="Highlight")
    highlight.font = Font(bold=True, color=Color(theme=4, tint=-0.25))
    highlight.fill = PatternFill("solid", fgColor=Color(theme=7, tint=0.6))
    highlight.border = Border(bottom=Side(style="thick", color=Color(theme=1)))
    wb.add_named_style(highlight)
    ws["A1"] = "named style"
    ws["A1"].style = "Highlight"
    ws["A2"] = "builtin Good"
    ws["A2"].style = "Good"
    ws["B1"] = "gradient"
    ws["B1"].fill = GradientFill(stop=("FFFFFF", "4F81BD"), degree=90)
    ws["B2"] = 3.5
    ws["B2"].alignment = Alignment(horizontal="center", text_rotation=30)
    ws["B3"] = "=looks like a formula"
    ws["B3"].data_type = "s"
    ws["B3"].quotePrefix = True
    ws["C1"] = 10
    ws["C2"] = 20
    ws["C3"] = "=C1+C2"  # no cached value: openpyxl never writes one
    ws["C4"] = "=Other!A1+1"  # no cached value and on another sheet
    ws["D1"] = "noted"
    ws["D1"].comment = Comment("openpyxl note", "Writer")
    ws.column_dimensions["A"].width = 20
    ws.column_dimensions["D"].hidden = True
    ws.row_dimensions[3].height = 28
    dv = DataValidation(type="list", formula1='"x,y,z"', allow_blank=True)
    ws.add_data_validation(dv)
    dv.add("E1:E5")
    ws.conditional_formatting.add("C1:C3", CellIsRule(operator="greaterThan", formula=["15"],
                                                      fill=PatternFill("solid", bgColor="FFC7CE")))
    ws.freeze_panes = "B2"
    wb.save(path)
    rewrite_zip(path, path, {})  # fixed ZIP timestamps


# ---------------------------------------------------------------------------
# bad inputs

def zip_bytes(entries):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries:
            zi = zipfile.ZipInfo(name, (1980, 1, 1, 0, 0, 0))
            zi.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(zi, data)
    return buf.getvalue()


CT = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
      '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
      '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
      '<Default Extension="xml" ContentType="application/xml"/>'
      '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
      '{sheets}</Types>')
CT_SHEET = ('<Override PartName="/xl/worksheets/sheet{n}.xml" '
            'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>')
ROOT_RELS = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
             '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
             '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
             '</Relationships>')
WB_RELS = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
           '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">{rels}</Relationships>')
WB_REL = ('<Relationship Id="rId{n}" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" '
          'Target="worksheets/sheet{n}.xml"/>')
WORKBOOK = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n{doctype}'
            '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
            'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
            '<sheets>{sheets}</sheets>{names}</workbook>')
WB_SHEET = '<sheet name="{name}" sheetId="{n}" r:id="rId{n}"/>'
SHEET_OPEN = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
              '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>')
SHEET_CLOSE = '</sheetData></worksheet>'
SHEET = SHEET_OPEN + '<row r="1"><c r="A1"><v>{v}</v></c></row>' + SHEET_CLOSE


def minimal_package(names, doctype="", sheet_override=None, drop_parts=(), name_text=None):
    """Entries of a hand-made workbook with one numeric cell per sheet.

    `name_text` becomes the text of a defined name, where an entity
    reference must be expanded by whoever reads the workbook part.
    """
    defined = ('<definedNames><definedName name="Payload">%s</definedName></definedNames>' % name_text
               if name_text else "")
    n = len(names)
    entries = [
        ("[Content_Types].xml", CT.format(sheets="".join(CT_SHEET.format(n=i) for i in range(1, n + 1)))),
        ("_rels/.rels", ROOT_RELS),
        ("xl/workbook.xml", WORKBOOK.format(doctype=doctype, names=defined, sheets="".join(
            WB_SHEET.format(name=nm, n=i) for i, nm in enumerate(names, start=1)))),
        ("xl/_rels/workbook.xml.rels", WB_RELS.format(rels="".join(WB_REL.format(n=i) for i in range(1, n + 1)))),
    ]
    for i in range(1, n + 1):
        body = (sheet_override or {}).get(i, SHEET.format(v=i))
        entries.append(("xl/worksheets/sheet%d.xml" % i, body))
    return [(k, v) for k, v in entries if k not in drop_parts]


def write_zip_bomb(path, inflated=int(2.5 * (1 << 30))):
    """A valid package whose one sheet part inflates to `inflated` bytes of blanks.

    Deflate with a full flush after each MiB restarts the window, so every
    MiB of blanks compresses to identical bytes: the stream is built from one
    compressed chunk repeated, and only the CRC needs a pass over the data.
    """
    chunk = b" " * (1 << 20)
    head, tail = SHEET_OPEN.encode(), (SHEET_CLOSE).encode()
    n_chunks = (inflated - len(head) - len(tail)) // len(chunk)
    comp = zlib.compressobj(9, zlib.DEFLATED, -15)
    first = comp.compress(head) + comp.flush(zlib.Z_FULL_FLUSH)
    one = comp.compress(chunk) + comp.flush(zlib.Z_FULL_FLUSH)
    again = comp.compress(chunk) + comp.flush(zlib.Z_FULL_FLUSH)
    assert one == again, "full-flush chunks must repeat"
    last = comp.compress(tail) + comp.flush(zlib.Z_FINISH)
    size = len(head) + n_chunks * len(chunk) + len(tail)
    crc = zlib.crc32(head)
    for _ in range(n_chunks):
        crc = zlib.crc32(chunk, crc)
    crc = zlib.crc32(tail, crc) & 0xFFFFFFFF
    csize = len(first) + len(one) * n_chunks + len(last)
    assert size < 0xFFFFFFFF and csize < 0xFFFFFFFF
    others = zip_bytes(minimal_package(["Bomb"], drop_parts=("xl/worksheets/sheet1.xml",)))
    # Append the bomb entry to the small package by hand (no ZIP64 needed below 4 GiB).
    with zipfile.ZipFile(io.BytesIO(others)) as z:
        infos = z.infolist()
        raw = others
    name = b"xl/worksheets/sheet1.xml"
    cd_offset_old = struct.unpack("<I", raw[raw.rfind(b"PK\x05\x06") + 16:][:4])[0]
    local_part = raw[:cd_offset_old]
    central_part = raw[cd_offset_old:raw.rfind(b"PK\x05\x06")]
    bomb_offset = len(local_part)
    dos_time, dos_date = 0, (0 << 9) | (1 << 5) | 1
    local_header = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, dos_time, dos_date, crc, csize, size,
                               len(name), 0) + name
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 8, dos_time, dos_date, crc, csize, size,
                          len(name), 0, 0, 0, 0, 0, bomb_offset) + name
    with open(path, "wb") as fh:
        fh.write(local_part)
        fh.write(local_header)
        fh.write(first)
        for _ in range(n_chunks):
            fh.write(one)
        fh.write(last)
        cd_start = fh.tell()
        fh.write(central_part)
        fh.write(central)
        cd_size = fh.tell() - cd_start
        count = len(infos) + 1
        fh.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, cd_size, cd_start, 0))


def make_bad_inputs(out, good_xlsx):
    def put(name, data):
        with open(os.path.join(out, name), "wb") as fh:
            fh.write(data)
    put("not_a_zip.xlsx", b"This is a plain text file pretending to be a workbook.\n")
    put("empty.xlsx", b"")
    with open(good_xlsx, "rb") as fh:
        data = fh.read()
    put("truncated.xlsx", data[:len(data) // 2])
    put("zip_without_workbook.xlsx", zip_bytes([
        ("[Content_Types].xml", CT.format(sheets="")), ("_rels/.rels", ROOT_RELS),
        ("docProps/app.xml", '<?xml version="1.0"?><Properties xmlns="http://schemas.openxmlformats.org/'
                             'officeDocument/2006/extended-properties"/>')]))
    agile = (b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'
             b'<encryption xmlns="http://schemas.microsoft.com/office/2006/encryption" '
             b'xmlns:p="http://schemas.microsoft.com/office/2006/keyEncryptor/password">'
             b'<keyData saltSize="16" blockSize="16" keyBits="256" hashSize="64" cipherAlgorithm="AES" '
             b'cipherChaining="ChainingModeCBC" hashAlgorithm="SHA512" saltValue="AAAAAAAAAAAAAAAAAAAAAA=="/>'
             b'<keyEncryptors><keyEncryptor uri="http://schemas.microsoft.com/office/2006/keyEncryptor/password">'
             b'<p:encryptedKey spinCount="100000" saltSize="16" blockSize="16" keyBits="256" hashSize="64" '
             b'cipherAlgorithm="AES" cipherChaining="ChainingModeCBC" hashAlgorithm="SHA512" '
             b'saltValue="AAAAAAAAAAAAAAAAAAAAAA==" encryptedVerifierHashInput="AAAAAAAAAAAAAAAAAAAAAA==" '
             b'encryptedVerifierHashValue="AAAAAAAAAAAAAAAAAAAAAA==" encryptedKeyValue="AAAAAAAAAAAAAAAAAAAAAA=="/>'
             b'</keyEncryptor></keyEncryptors></encryption>')
    info = struct.pack("<HHI", 4, 4, 0x40) + agile
    blob = b"".join(hashlib.sha256(b"tabrend%d" % i).digest() for i in range(256))  # 8 KiB of noise
    package = struct.pack("<Q", len(data)) + blob
    put("encrypted.xlsx", cfb({"EncryptionInfo": info, "EncryptedPackage": package}))
    laughs = ('<!DOCTYPE workbook [<!ENTITY a "hahahahahahahahahaha">'
              + "".join('<!ENTITY %s "%s">' % (chr(98 + i), ("&%s;" % chr(97 + i)) * 10) for i in range(9))
              + ']>\n')
    put("billion_laughs.xlsx", zip_bytes(minimal_package(["Laughs"], doctype=laughs, name_text="&j;")))
    xxe = '<!DOCTYPE workbook [<!ENTITY xxe SYSTEM "file:///etc/passwd">]>\n'
    put("external_entity.xlsx", zip_bytes(minimal_package(["Leak"], doctype=xxe, name_text="&xxe;")))
    put("bad_xml_sheet.xlsx", zip_bytes(minimal_package(
        ["Good", "Broken"], sheet_override={2: SHEET_OPEN + '<row r="1"><c r="A1"><v>2</v></c></row><row>'})))
    put("missing_sheet_part.xlsx", zip_bytes(minimal_package(
        ["Present", "Absent"], drop_parts=("xl/worksheets/sheet2.xml",))))
    write_zip_bomb(os.path.join(out, "zip_bomb.xlsx"))


# ---------------------------------------------------------------------------
# LibreOffice-written variants

LO_SOURCES = ["values_types", "formulas_cross_sheet", "styles_merges_widths", "views_panes_zoom",
              "page_setup_print", "names_scoped", "rich_text_strings", "comments", "charts", "images",
              "tables", "cond_formats", "validations", "hyperlinks"]


def soffice_convert(files, convert_to, outdir, timeout=240):
    from lo_cells import make_profile, run_soffice
    root = tempfile.mkdtemp(prefix="fixtures_lo_")
    try:
        profile = make_profile(root, "never")
        rc, out, err = run_soffice(["--convert-to", convert_to, "--outdir", outdir] + files,
                                   profile, timeout, root)
        return rc, out, err
    finally:
        shutil.rmtree(root, ignore_errors=True)


def make_lo_variants(out, only):
    wanted = [s for s in LO_SOURCES if only is None or ("lo_" + s) in only or "lo_*" in only]
    written = []
    if wanted:
        stage = tempfile.mkdtemp(prefix="fixtures_lo_in_")
        try:
            ins = []
            for s in wanted:
                dst = os.path.join(stage, "lo_%s.xlsx" % s)
                shutil.copyfile(os.path.join(out, s + ".xlsx"), dst)
                ins.append(dst)
            outdir = os.path.join(stage, "out")
            os.makedirs(outdir)
            soffice_convert(ins, "xlsx:Calc MS Excel 2007 XML", outdir)
            for s in wanted:
                made = os.path.join(outdir, "lo_%s.xlsx" % s)
                if not os.path.exists(made):
                    raise RuntimeError("LibreOffice did not write lo_%s.xlsx" % s)
                shutil.move(made, os.path.join(out, "lo_%s.xlsx" % s))
                written.append("lo_%s.xlsx" % s)
        finally:
            shutil.rmtree(stage, ignore_errors=True)
    if only is None or "legacy" in only or "legacy_named_xlsx" in only:
        stage = tempfile.mkdtemp(prefix="fixtures_xls_")
        try:
            src = os.path.join(stage, "legacy.xlsx")
            shutil.copyfile(os.path.join(out, "values_types.xlsx"), src)
            soffice_convert([src], "xls:MS Excel 97", stage)
            made = os.path.join(stage, "legacy.xls")
            if not os.path.exists(made):
                raise RuntimeError("LibreOffice did not write legacy.xls")
            shutil.copyfile(made, os.path.join(out, "legacy.xls"))
            shutil.copyfile(made, os.path.join(out, "legacy_named_xlsx.xlsx"))
            written += ["legacy.xls", "legacy_named_xlsx.xlsx"]
        finally:
            shutil.rmtree(stage, ignore_errors=True)
    return written


# ---------------------------------------------------------------------------

def main(argv=None):
    ap = argparse.ArgumentParser(usage=__doc__.split("How to run:")[1].split("\n\n")[0])
    ap.add_argument("outdir", nargs="?")
    ap.add_argument("--no-lo", action="store_true")
    ap.add_argument("--only", default=None)
    ap.add_argument("--list", action="store_true")
    a = ap.parse_args(argv)
    if a.list:
        for name, what in MANIFEST.items():
            print("%-28s %s" % (name, what))
        return 0
    if not a.outdir:
        ap.print_usage(sys.stderr)
        return 2
    out = os.path.abspath(a.outdir)
    os.makedirs(out, exist_ok=True)
    only = set(a.only.split(",")) if a.only else None
    tmp = tempfile.mkdtemp(prefix="fixtures_")
    g = globals()
    jobs = []
    for name in MANIFEST:
        stem, ext = os.path.splitext(name)
        fn = g.get("make_" + stem)
        if fn is None:
            continue
        if only is not None and stem not in only:
            continue
        jobs.append((name, fn))
    failures = 0
    timings = []
    try:
        for name, fn in jobs:
            t0 = time.time()
            try:
                args = [os.path.join(out, name)]
                if "tmp" in fn.__code__.co_varnames[:fn.__code__.co_argcount]:
                    args.append(tmp)
                fn(*args)
                timings.append((name, time.time() - t0))
            except Exception as exc:
                failures += 1
                print("FAILED %s: %s: %s" % (name, type(exc).__name__, exc), file=sys.stderr)
        bad_wanted = only is None or any(n in only for n in (
            "bad", "not_a_zip", "empty", "truncated", "zip_without_workbook", "encrypted", "billion_laughs",
            "external_entity", "zip_bomb", "bad_xml_sheet", "missing_sheet_part"))
        if bad_wanted:
            t0 = time.time()
            good = os.path.join(out, "values_types.xlsx")
            if not os.path.exists(good):
                make_values_types(good)
            try:
                make_bad_inputs(out, good)
                timings.append(("bad inputs", time.time() - t0))
            except Exception as exc:
                failures += 1
                print("FAILED bad inputs: %s: %s" % (type(exc).__name__, exc), file=sys.stderr)
        if not a.no_lo:
            t0 = time.time()
            try:
                for s in LO_SOURCES:
                    if not os.path.exists(os.path.join(out, s + ".xlsx")):
                        g["make_" + s](*([os.path.join(out, s + ".xlsx")] +
                                         ([tmp] if s in ("images",) else [])))
                if not os.path.exists(os.path.join(out, "values_types.xlsx")):
                    make_values_types(os.path.join(out, "values_types.xlsx"))
                made = make_lo_variants(out, only)
                if made:
                    timings.append(("LibreOffice (%d files)" % len(made), time.time() - t0))
            except Exception as exc:
                failures += 1
                print("FAILED LibreOffice variants: %s: %s" % (type(exc).__name__, exc), file=sys.stderr)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    for name, secs in timings:
        print("%-34s %6.2fs" % (name, secs))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
