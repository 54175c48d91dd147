#!/usr/bin/python3
"""Shows that the checking tools catch what they should and pass what they should.

How to run:
    /usr/bin/python3 tests/tools/selfcheck.py [--corpus DIR] [--keep]

Makes the fixtures in a temporary folder, then runs every tool on known-good
files (copies of single-sheet workbooks), on outputs with known faults
(hand-mutated packages, and openpyxl keep-one-sheet saves that lose
pictures and cached values) and on files of the shared corpus. Prints one
line per expectation and the timings. Exit 0 when every expectation held.
"""

import argparse
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import warnings
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
PY = "/usr/bin/python3"
sys.path.insert(0, HERE)
warnings.filterwarnings("ignore")

RESULTS = []
TIMES = []


def expect(label, ok, detail=""):
    RESULTS.append(ok)
    print("%s %s%s" % ("PASS" if ok else "FAIL", label, ("  -- " + detail) if detail and not ok else ""))


def run(tool, *args, stdin=None):
    t0 = time.time()
    proc = subprocess.run([PY, os.path.join(HERE, tool)] + list(args), input=stdin,
                          capture_output=True, text=True)
    return proc.returncode, proc.stdout + proc.stderr, time.time() - t0


def mutate(src, dst, edits, add=()):
    """Copy a package with parts replaced (bytes or callable), dropped (None) or added."""
    with zipfile.ZipFile(src) as zin, zipfile.ZipFile(dst, "w", zipfile.ZIP_DEFLATED) as zout:
        for info in zin.infolist():
            data = zin.read(info.filename)
            if info.filename in edits:
                e = edits[info.filename]
                if e is None:
                    continue
                data = e(data) if callable(e) else e
            zout.writestr(info.filename, data)
        for name, data in add:
            zout.writestr(name, data)


def keep_only(src, sheet, dst, fix_names=True):
    """A crude one-sheet copy by openpyxl: loses pictures and every cached value.

    openpyxl keeps sheet-scoped names with their old localSheetId, which
    LibreOffice refuses to load; fix_names drops those names.
    """
    import openpyxl
    wb = openpyxl.load_workbook(src)
    if fix_names:
        wb.defined_names.definedName = [n for n in wb.defined_names.definedName if n.localSheetId is None]
    for ws in list(wb.worksheets) + list(wb.chartsheets):
        if ws.title != sheet:
            wb.remove(ws)
    wb.active = 0
    wb[sheet].sheet_state = "visible"
    wb.save(dst)


def check_package_cases(fx, work):
    # XlsxWriter counts big_styled's number formats without the one it writes twice.
    good = [f for f in glob.glob(os.path.join(fx, "*.xlsx")) if not re.search(
        r"(not_a_zip|empty|truncated|zip_without|encrypted|billion|external_entity|zip_bomb|bad_xml|"
        r"missing_sheet|legacy|big_styled)", f)]
    rc, out, secs = run("check_package.py", *good)
    TIMES.append(("check_package on %d fixtures" % len(good), secs))
    expect("check_package passes all %d good fixtures" % len(good), rc == 0, out)
    rc, out, _ = run("check_package.py", os.path.join(fx, "macros.xlsm"))
    expect("check_package refuses a VBA project in an output", rc == 1 and "VBA project" in out, out)
    rc, out, _ = run("check_package.py", "--allow-macros", os.path.join(fx, "macros.xlsm"))
    expect("check_package --allow-macros accepts the .xlsm source", rc == 0, out)

    base = os.path.join(fx, "comments.xlsx")
    one = os.path.join(fx, "inline_strings.xlsx")
    wbx = "xl/workbook.xml"
    cases = [
        ("missing styles part", base, {"xl/styles.xml": None}, (), "targets missing part"),
        ("orphan part", base, {}, [("xl/media/stray.png", b"x")], "not referenced"),
        ("duplicate relationship Id", base, {"xl/_rels/workbook.xml.rels":
                                             lambda d: d.replace(b'Id="rId2"', b'Id="rId1"')}, (), "used 2 times"),
        ("localSheetId out of range", base, {wbx: lambda d: d.replace(
            b"</sheets>", b'</sheets><definedNames><definedName name="x" localSheetId="5">Notes!$A$1'
                          b'</definedName></definedNames>')}, (), "localSheetId 5"),
        ("calcChain travels", base, {}, [("xl/calcChain.xml", b'<?xml version="1.0"?><calcChain '
                                                           b'xmlns="http://schemas.openxmlformats.org/'
                                                           b'spreadsheetml/2006/main"/>')], "calculation chain"),
        ("dangling r:id", base, {"xl/worksheets/_rels/sheet1.xml.rels": lambda d: re.sub(
            rb'<Relationship Id="rId1"[^>]*/>', b"", d)}, (), "names no relationship"),
        ("DOCTYPE in a part", base, {"xl/styles.xml": lambda d: d.replace(
            b"?>", b'?><!DOCTYPE styleSheet [<!ENTITY e "x">]>', 1)}, (), "DOCTYPE"),
        ("not well-formed part", base, {"xl/styles.xml": lambda d: d[:-20]}, (), "not well-formed"),
        ("activeTab out of range", base, {wbx: lambda d: re.sub(rb"<workbookView ", b'<workbookView activeTab="7" ', d)},
         (), "activeTab 7"),
        ("unused shared string", base, {"xl/sharedStrings.xml": lambda d: d.replace(
            b"</sst>", b"<si><t>secret of another sheet</t></si></sst>")}, (), "used by no cell"),
        ("formula on a missing sheet", one, {"xl/worksheets/sheet1.xml": lambda d: re.sub(
            rb'<c r="B1"[^>]*>.*?</c>', b'<c r="B1"><f>Gone!A1</f><v>1</v></c>', d, count=1)}, (), "missing sheet"),
        ("style index beyond cellXfs", one, {"xl/worksheets/sheet1.xml": lambda d: re.sub(
            rb'<c r="B1"', b'<c r="B1" s="99"', d, count=1)}, (), "beyond cellXfs"),
        ("no visible sheet", one, {wbx: lambda d: d.replace(b'sheetId="1"', b'sheetId="1" state="hidden"').replace(
            b'sheetId="2"', b'sheetId="2" state="hidden"')}, (), "no visible sheet"),
        ("part without content type", base, {}, [("xl/extra.bin", b"\x00")], "no content type"),
        ("rows out of order", one, {"xl/worksheets/sheet1.xml": lambda d: d.replace(b'<row r="2"', b'<row r="1"')},
         (), "row 1 follows row 1"),
        ("overlapping merged ranges", one, {"xl/worksheets/sheet1.xml": lambda d: d.replace(
            b"</sheetData>", b'</sheetData><mergeCells><mergeCell ref="A1:B2"/><mergeCell ref="B2:C3"/></mergeCells>')},
         (), "overlap"),
        ("a count that is not its list's", one, {"xl/styles.xml": lambda d: re.sub(
            rb'<fonts count="\d+"', b'<fonts count="9"', d)}, (), "holds"),
        ("table wider than its columns", os.path.join(fx, "tables.xlsx"), {"xl/tables/table1.xml": lambda d: re.sub(
            rb' ref="([A-Z]+\d+):[A-Z]+(\d+)"', rb' ref="\1:Z\2"', d, count=1)}, (), "columns for the"),
    ]
    for label, src, edits, add, needle in cases:
        dst = os.path.join(work, "bad_%s.xlsx" % re.sub(r"\W+", "_", label))
        mutate(src, dst, edits, add)
        rc, out, _ = run("check_package.py", dst)
        expect("check_package finds: %s" % label, rc == 1 and needle in out, out)


def schema_cases(fx, work):
    """schema_check on copies of a fixture made as an output might go wrong, the fixture as source."""
    import schema_check
    checker = schema_check.checker_or_none()
    if checker is None:
        return
    src = os.path.join(fx, "page_setup_print.xlsx")
    sheet, book = "xl/worksheets/sheet1.xml", "xl/workbook.xml"
    flawed = os.path.join(work, "schema_flawed_source.xlsx")
    mutate(src, flawed, {sheet: lambda d: d.replace(b"<pageMargins ", b'<pageMargins stray="1" ', 1)})
    cases = [
        ("an unchanged copy", src, {}, None),
        ("an empty list of links", src, {sheet: lambda d: re.sub(rb"<(printOptions|pageMargins)", rb"<hyperlinks/><\1",
                                                                 d, count=1)}, "Missing child element"),
        ("an attribute of a namespace not declared ignorable", src, {book: lambda d: d.replace(
            b"<workbookView ", b'<workbookView xmlns:xr2="http://schemas.microsoft.com/office/spreadsheetml/2015/revision2"'
                               b' xr2:uid="{00000000-0000-0000-0000-000000000001}" ', 1)}, "neither understood nor ignorable"),
        ("a Strict part in a Transitional package", src, {sheet: lambda d: d.replace(
            b"http://schemas.openxmlformats.org/spreadsheetml/2006/main", b"http://purl.oclc.org/ooxml/spreadsheetml/main")},
         "Strict namespace"),
        ("its source's own fault, carried", flawed, {}, None),
        ("a fault beside its source's own", flawed, {sheet: lambda d: d.replace(
            b"<sheetFormatPr ", b'<sheetFormatPr stray="1" ', 1)}, "'sheetFormatPr', attribute 'stray'"),
    ]
    for label, source, edits, needle in cases:
        out = os.path.join(work, "schema_%s.xlsx" % re.sub(r"\W+", "_", label))
        mutate(source, out, edits)
        problems = "\n".join(checker.check(source, out))
        expect("schema_check %s %s" % ("passes" if needle is None else "finds", label),
               not problems if needle is None else needle in problems, problems)


def lo_cases(fx, work):
    from lo_cells import lo_cells
    bad = ["not_a_zip.xlsx", "empty.xlsx", "truncated.xlsx", "zip_without_workbook.xlsx", "encrypted.xlsx",
           "billion_laughs.xlsx", "external_entity.xlsx", "bad_xml_sheet.xlsx", "missing_sheet_part.xlsx",
           "legacy.xls", "legacy_named_xlsx.xlsx", "shared_formulas.xlsx", "lo_formulas_cross_sheet.xlsx"]
    paths = [os.path.join(fx, b) for b in bad]
    t0 = time.time()
    res = lo_cells(paths, timeout=120)
    TIMES.append(("lo_cells on %d odd files, one soffice start" % len(paths), time.time() - t0))
    print("     LibreOffice on the odd inputs:")
    for p in paths:
        r = res[p]
        print("       %-28s %s" % (os.path.basename(p), ("error: " + r.error) if r.error else
                                   "loads, sheets %s" % list(r.sheets)))
    sf = res[os.path.join(fx, "shared_formulas.xlsx")].sheets.get("Calc", {})
    expect("LibreOffice shows shared-formula children with their cached values",
           sf.get((19, 9)) == "50" and sf.get((19, 10)) == "60", str({k: v for k, v in sf.items() if k[1] in (9, 10)}))
    # LibreOffice turns a data table into MULTIPLE.OPERATIONS and, not recalculating, shows
    # its cells empty: the same on both sides of a comparison, so harmless, but worth knowing.
    print("     LibreOffice shows the data table N3:N5 of shared_formulas.xlsx as %s (cached 10, 20, 30)"
          % [sf.get((r, 13), "") for r in (2, 3, 4)])
    lo = res[os.path.join(fx, "lo_formulas_cross_sheet.xlsx")].sheets.get("Calc", {})
    expect("lo_cells reads 3 sheets of the LibreOffice re-save", len(res[os.path.join(
        fx, "lo_formulas_cross_sheet.xlsx")].sheets) == 3)
    expect("lo_cells: cross-sheet formula shows its cached value", lo.get((0, 2)) == "11", str(lo.get((0, 2))))


def compare_cases(fx, work):
    # A single-sheet source by XlsxWriter: a byte copy of it is a perfect "output".
    import xlsxwriter
    import datetime
    src1 = os.path.join(work, "single.xlsx")
    wb = xlsxwriter.Workbook(src1)
    ws = wb.add_worksheet("Only one")
    ws.write_row(0, 0, [1, 2.5, "text", True])
    ws.write_datetime(1, 0, datetime.datetime(2024, 3, 1, 12), wb.add_format({"num_format": "yyyy-mm-dd hh:mm"}))
    ws.write_formula(1, 1, "=A1+B1", wb.add_format({"num_format": "0.00"}), 3.5)
    ws.write_formula(1, 2, "=NOW()", None, 1)
    ws.merge_range("A4:C5", "merged", wb.add_format({"bold": True}))
    ws.write_comment("A1", "a note")
    wb.close()
    copy1 = os.path.join(work, "single_copy.xlsx")
    shutil.copyfile(src1, copy1)
    changed = os.path.join(work, "single_changed.xlsx")
    mutate(src1, changed, {"xl/worksheets/sheet1.xml": lambda d: d.replace(b"<v>2.5</v>", b"<v>2.75</v>")})
    restyled = os.path.join(work, "single_restyled.xlsx")
    mutate(src1, restyled, {"xl/styles.xml": lambda d: re.sub(rb'formatCode="0\.00"', b'formatCode="0.000"', d)})

    # openpyxl keep-one-sheet outputs of multi-sheet fixtures: they lose cached values and pictures.
    crude = []
    for fixture, sheet in (("formulas_cross_sheet.xlsx", "Calc"), ("values_types.xlsx", "Values"),
                           ("images.xlsx", "Pictures"), ("names_scoped.xlsx", "Alpha")):
        dst = os.path.join(work, "crude_%s_%s.xlsx" % (fixture[:-5], sheet))
        keep_only(os.path.join(fx, fixture), sheet, dst, fix_names=not fixture.startswith("names"))
        crude.append((os.path.join(fx, fixture), sheet, dst))

    pairs = [[src1, "Only one", copy1], [src1, "Only one", changed], [src1, "Only one", restyled]]
    pairs += [list(c) for c in crude]
    rc, out, secs = run("compare_cells.py", "--json", stdin=json.dumps(pairs))
    TIMES.append(("compare_cells, %d pairs, one soffice start" % len(pairs), secs))
    lines = out.splitlines()
    print("     compare_cells said:")
    for line in lines:
        if not line.startswith("  ") or "source" in line:
            print("       " + line[:150])
    expect("compare_cells exits 1 when any pair differs", rc == 1, out)
    expect("compare_cells: identical copy is OK (volatile NOW() skipped)",
           any(l.startswith("OK") and "single_copy" in l and "volatile" in l for l in lines), out)
    expect("compare_cells: changed value found at B1",
           any("single_changed" in l and l.startswith("DIFF") for l in lines) and
           any(l.strip().startswith("B1") and '"2.5"' in l and '"2.75"' in l for l in lines), out)
    expect("compare_cells: number format change found (3.50 vs 3.500)",
           any('"3.50"' in l and '"3.500"' in l for l in lines), out)
    expect("compare_cells: crude copy loses cross-sheet values at C1",
           any(l.strip().startswith("C1") and '"11"' in l for l in lines), out)
    expect("compare_cells: LibreOffice refuses an output with a localSheetId out of range",
           any(l.startswith("DIFF") and "crude_names_scoped" in l and "could not load" in l for l in lines), out)
    expect("compare_cells: crude copy of a values-only sheet is OK",
           any(l.startswith("OK") and "crude_values_types_Values" in l for l in lines), out)
    rc, out, _ = run("compare_cells.py", src1, "Only one", copy1)
    expect("compare_cells CLI form: one pair, exit 0", rc == 0, out)
    rc, out, _ = run("compare_cells.py", src1, "No such sheet", copy1)
    expect("compare_cells: missing source sheet is a usage error (exit 2)", rc == 2, out)
    rc, out, _ = run("compare_cells.py", src1, "Only one", os.path.join(fx, "not_a_zip.xlsx"))
    expect("compare_cells: an output LibreOffice cannot load is a difference (exit 1)", rc == 1, out)

    # compare_sheet
    t0 = time.time()
    rc, out, _ = run("compare_sheet.py", src1, "Only one", copy1)
    TIMES.append(("compare_sheet, small pair", time.time() - t0))
    expect("compare_sheet: identical copy is OK", rc == 0, out)
    rc, out, _ = run("compare_sheet.py", src1, "Only one", changed)
    expect("compare_sheet: changed value found", rc == 1 and "B1: 2.5" in out, out)
    rc, out, _ = run("compare_sheet.py", src1, "Only one", restyled)
    expect("compare_sheet: changed number format found", rc == 1 and "number format" in out, out)
    for src, sheet, dst in crude:
        t0 = time.time()
        rc, out, _ = run("compare_sheet.py", src, sheet, dst, "--max-diffs", "8")
        TIMES.append(("compare_sheet %s [%s]" % (os.path.basename(src), sheet), time.time() - t0))
        print("     compare_sheet on the crude copy of %s [%s]: exit %d" % (os.path.basename(src), sheet, rc))
        for line in out.splitlines()[1:9]:
            print("       " + line[:150])
        if "images" in src:
            expect("compare_sheet: lost pictures counted", rc == 1 and "pictures: 3 in the source, 0" in out, out)
        if "formulas" in src:
            expect("compare_sheet: cross-sheet formula left in place is flagged",
                   rc == 1 and "points beyond the sheet" in out, out)
        if "names" in src:
            expect("compare_sheet: names pointing at other sheets flagged", rc == 1 and "names" in out, out)
    # Styles of one workbook never stand for another's: a workbook loaded after a freed one
    # often takes its id(), which once made a cache hand out the freed workbook's styles.
    import gc
    import openpyxl
    import compare_sheet
    other = os.path.join(fx, "lo_styles_merges_widths.xlsx")
    stale = []
    for _ in range(40):
        for path in (other, src1):
            wb = openpyxl.load_workbook(path)
            cells = [cell for row in wb.active.iter_rows(max_row=3) for cell in row]
            cached = [compare_sheet.style_key(cell) for cell in cells]
            wb.__dict__.pop("_style_keys", None)
            fresh = [compare_sheet.style_key(cell) for cell in cells]
            stale += [(path, cell.coordinate) for cell, a, b in zip(cells, cached, fresh) if a != b]
            del wb, cells
            gc.collect()
    expect("compare_sheet: the styles of a freed workbook never stand for another's", not stale, str(stale[:3]))
    # check_package on the crude copies: openpyxl keeps names that point at removed sheets.
    rc, out, _ = run("check_package.py", *[c[2] for c in crude])
    print("     check_package on the crude copies: exit %d" % rc)
    for line in out.splitlines()[:12]:
        print("       " + line[:150])
    expect("check_package: crude copy keeps a name on a missing sheet",
           rc == 1 and "missing sheet" in out, out)


def corpus_cases(corpus, work):
    files = sorted(glob.glob(os.path.join(corpus, "**", "*.xlsx"), recursive=True))
    if not files:
        print("     (no corpus at %s)" % corpus)
        return
    local = os.path.join(work, "corpus")
    os.makedirs(local)
    copies = []
    for i, f in enumerate(files):
        dst = os.path.join(local, "%03d_%s" % (i, os.path.basename(f)))
        shutil.copyfile(f, dst)
        copies.append(dst)
    from lo_cells import lo_cells
    t0 = time.time()
    res = lo_cells(copies, timeout=600)
    secs = time.time() - t0
    TIMES.append(("lo_cells on the whole corpus (%d files), batched soffice starts" % len(copies), secs))
    failed = [os.path.basename(p) for p, r in res.items() if r.error]
    sheets = sum(len(r.sheets) for r in res.values())
    print("     corpus: %d files, %d sheets shown by LibreOffice, %d files it could not load: %s"
          % (len(copies), sheets, len(failed), ", ".join(failed[:8])))
    expect("lo_cells reads most of the corpus", len(failed) < len(copies) // 10, str(failed))
    sample = copies[:: max(1, len(copies) // 12)][:12]
    t0 = time.time()
    rc, out, _ = run("check_package.py", *sample)
    TIMES.append(("check_package on %d corpus files" % len(sample), time.time() - t0))
    print("     check_package on %d corpus sources (sources may legitimately carry calcChain etc.):" % len(sample))
    for line in out.splitlines()[:30]:
        print("       " + line[:150])
    # compare_sheet of single-sheet corpus files against themselves must be clean.
    singles = []
    for p in copies:
        try:
            with zipfile.ZipFile(p) as z:
                wbxml = z.read("xl/workbook.xml")
            if wbxml.count(b"<sheet ") == 1 and b"externalReference" not in wbxml and not res[p].error:
                singles.append(p)
        except Exception:
            continue
    singles = singles[:10]
    clean = 0
    t0 = time.time()
    for p in singles:
        name = next(iter(res[p].sheets))
        rc, out, _ = run("compare_sheet.py", p, name, p)
        clean += rc == 0
        if rc != 0:
            print("       compare_sheet self-compare %s: %s" % (os.path.basename(p), out.strip()[:300]))
    TIMES.append(("compare_sheet self-compare of %d single-sheet corpus files" % len(singles), time.time() - t0))
    expect("compare_sheet: single-sheet corpus files equal themselves (%d of %d)" % (clean, len(singles)),
           clean == len(singles))
    pairs = [[p, next(iter(res[p].sheets)), p] for p in singles]
    rc, out, secs = run("compare_cells.py", "--json", stdin=json.dumps(pairs))
    TIMES.append(("compare_cells self-compare of %d corpus files" % len(singles), secs))
    expect("compare_cells: single-sheet corpus files equal themselves", rc == 0, out)


def looks_cases(work):
    """split_looks sees what cell checks cannot: a narrower column, a lost thin border, a lost
    faint fill, a lost picture; and an unchanged copy looks the same."""
    import io
    import xlsxwriter
    import make_fixtures
    import split_looks
    src = os.path.join(work, "looks.xlsx")
    wb = xlsxwriter.Workbook(src)
    ws = wb.add_worksheet("Looks")
    ws.set_column("B:B", 20)
    ws.write("A1", "thin border", wb.add_format({"border": 1, "border_color": "#C0C0C0"}))
    ws.write("B1", "faint fill", wb.add_format({"bg_color": "#F2F2F2"}))
    ws.write_row(1, 0, [1, 2, 3])
    ws.insert_image("D2", "red.png", {"image_data": io.BytesIO(make_fixtures.png((200, 0, 0), 60, 40))})
    wb.close()
    variants = {
        "copy": {},
        "narrower column": {"xl/worksheets/sheet1.xml": lambda d: d.replace(b'width="20.7109375"', b'width="18.7109375"')},
        "no border": {"xl/styles.xml": lambda d: re.sub(rb'<border><left style="thin">.*?</border>', b"<border/>", d, count=1,
                                                        flags=re.S)},
        "no fill": {"xl/styles.xml": lambda d: d.replace(b'rgb="FFF2F2F2"', b'rgb="FFFFFFFF"')},
        "no picture": {"xl/worksheets/sheet1.xml": lambda d: re.sub(rb"<drawing [^>]*/>", b"", d)},
    }
    paths = {}
    for name, edits in variants.items():
        paths[name] = os.path.join(work, "looks_%s.xlsx" % name.replace(" ", "_"))
        mutate(src, paths[name], edits)
    t0 = time.time()
    pdfs = split_looks.export_pdfs([src] + list(paths.values()), os.path.join(work, "looks"))
    TIMES.append(("split_looks, %d files, one soffice start" % (len(paths) + 1), time.time() - t0))
    for name, path in paths.items():
        scratch = tempfile.mkdtemp(dir=work)
        sizes = split_looks.page_sizes(pdfs[src]), split_looks.page_sizes(pdfs[path])
        what = split_looks.compare_page(pdfs[src], 1, sizes[0][0], pdfs[path], sizes[1][0], scratch)
        if name == "copy":
            expect("split_looks: an unchanged copy looks the same", what is None, what)
        else:
            expect("split_looks: %s looks different (%s)" % (name, what), what is not None)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--corpus", default="/work/shared/corpus/closedxml")
    ap.add_argument("--keep", action="store_true")
    a = ap.parse_args()
    work = tempfile.mkdtemp(prefix="tools_selfcheck_")
    fx = os.path.join(work, "fx")
    try:
        t0 = time.time()
        rc = subprocess.run([PY, os.path.join(HERE, "make_fixtures.py"), fx], capture_output=True, text=True)
        TIMES.append(("make_fixtures (all, with LibreOffice)", time.time() - t0))
        expect("make_fixtures writes everything", rc.returncode == 0, rc.stderr)
        expect("make_fixtures made %d files" % len(os.listdir(fx)), len(os.listdir(fx)) >= 50)
        big = os.path.getsize(os.path.join(fx, "zip_bomb.xlsx"))
        with zipfile.ZipFile(os.path.join(fx, "zip_bomb.xlsx")) as z:
            inflated = max(i.file_size for i in z.infolist())
        expect("zip_bomb.xlsx: %.1f MB inflating to %.2f GiB" % (big / 1e6, inflated / 2 ** 30),
               inflated > 2 * 2 ** 30 and big < 4e6)
        check_package_cases(fx, work)
        schema_cases(fx, work)
        lo_cases(fx, work)
        compare_cases(fx, work)
        looks_cases(work)
        corpus_cases(a.corpus, work)
    finally:
        if a.keep:
            print("kept", work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    print("\nTimings:")
    for label, secs in TIMES:
        print("  %-66s %6.2fs" % (label, secs))
    print("\n%d of %d expectations held" % (sum(RESULTS), len(RESULTS)))
    return 0 if all(RESULTS) else 1


if __name__ == "__main__":
    sys.exit(main())
