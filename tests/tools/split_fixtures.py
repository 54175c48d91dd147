#!/usr/bin/python3
"""Splits every fixture workbook with the real tabrendcli and checks each output with the
independent readers; bad inputs must fail cleanly and leave nothing behind.

How to run:
    /usr/bin/python3 tests/tools/split_fixtures.py --cli build/bin/tabrendcli [--only a,b] [--keep DIR]

For every good fixture: the run exits 0 and writes one output per worksheet; every output
passes check_package (a sound, self-contained package), compare_sheet (openpyxl: values,
formulas, styles, layout, views, page setup, names, rules and the counts of pictures,
charts, comments, tables...) and compare_cells (LibreOffice shows the same cells, all
outputs in one LibreOffice batch) and schema_check (every XML part valid against the
schemas wherever the fixture's own part is). For every bad input: the run exits 1, names the file in
its /verbose=1 line, and writes nothing. The last line reads "N passed, M failed".
"""

import argparse
import io
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import check_package  # noqa: E402
import compare_cells  # noqa: E402
import compare_sheet  # noqa: E402
import list_run  # noqa: E402
import make_fixtures  # noqa: E402
import schema_check  # noqa: E402
import xlsx_pkg  # noqa: E402

# Inputs no workbook program can split: each must fail with its own description.
BAD = {
    "not_a_zip.xlsx": "is not a workbook",
    "empty.xlsx": "the file is empty",
    "truncated.xlsx": "damaged or truncated",
    "zip_without_workbook.xlsx": "is not a workbook",
    "encrypted.xlsx": "encrypted",
    "billion_laughs.xlsx": "declares a document type",
    "external_entity.xlsx": "declares a document type",
    "zip_bomb.xlsx": "ZIP bomb",
}
# openpyxl reads only the Transitional dialect: the outputs of a Strict fixture are compared
# by it with the Transitional workbook the fixture was made from.
TRANSITIONAL_TWINS = {"strict.xlsx": "strict_twin.xlsx"}
# Inputs that split in part: the sound sheets before the broken one are written.
PARTIAL = {"bad_xml_sheet.xlsx": (1, "not well-formed XML"), "missing_sheet_part.xlsx": (1, "has no part")}


class Tally:
    def __init__(self):
        self.passed = 0
        self.failed = []

    def check(self, label, problems):
        if problems:
            self.failed.append(label)
            print("FAIL %s" % label)
            for line in problems[:25]:
                print("     %s" % line)
        else:
            self.passed += 1
            print("ok   %s" % label)


def worksheet_names(path):
    with xlsx_pkg.Package(path) as pkg:
        return [s["name"] for s in pkg.workbook()["sheets"] if s["kind"] == "worksheet"]


def output_sheet(path):
    with zipfile.ZipFile(path) as z:
        import xml.etree.ElementTree as ET
        root = ET.fromstring(z.read("xl/workbook.xml"))
        names = [el.get("name") for el in root.iter() if xlsx_pkg.local(el.tag) == "sheet"]
    return names[0] if len(names) == 1 else None


def run_cli(cli, source, out):
    os.makedirs(out, exist_ok=True)
    done = subprocess.run([cli, source, out, "/verbose=1"], capture_output=True, text=True, timeout=600)
    return done.returncode, done.stderr


def run(cli, fixtures, work, tally, exported=None):
    """Splits every fixture of the folder fixtures into work and checks it; the outputs of the
    sound ones as [(source, output path, its sheet, what its copy could not keep)], for the
    other checks of the same split. exported: LibreOffice's cells of fixtures exported already."""
    schema = schema_check.checker_or_none()
    pairs, outputs_seen = [], []
    names = sorted(os.listdir(fixtures))
    # The sound fixtures in one run, as a folder of them would be split.
    sound = [os.path.join(fixtures, name) for name in names if name not in BAD and name not in PARTIAL and
             name.lower().endswith((".xlsx", ".xlsm", ".xltx", ".xltm")) and not name.startswith("legacy")]
    splits = list_run.split_list(cli, sound, os.path.join(work, "sound"), work)
    for name in names:
        source = os.path.join(fixtures, name)
        out = os.path.join(work, "out", name)
        if name in BAD:
            code, said = run_cli(cli, source, out)
            problems = []
            if code != 1:
                problems.append("exit status %d, expected 1" % code)
            if BAD[name] not in said or name not in said:
                problems.append("the report does not name the file and say %r: %s" % (BAD[name], said.strip()))
            if os.listdir(out):
                problems.append("files were written: %s" % os.listdir(out))
            tally.check("bad input %s" % name, problems)
            continue
        if name in PARTIAL:
            written, reason = PARTIAL[name]
            code, said = run_cli(cli, source, out)
            problems = []
            if code != 1:
                problems.append("exit status %d, expected 1" % code)
            if reason not in said:
                problems.append("the report does not say %r: %s" % (reason, said.strip()))
            if len(os.listdir(out)) != written:
                problems.append("%d files written, expected %d" % (len(os.listdir(out)), written))
            tally.check("partly broken %s" % name, problems)
            continue
        if not name.lower().endswith((".xlsx", ".xlsm", ".xltx", ".xltm")) or name.startswith("legacy"):
            continue  # legacy formats have tests of their own
        expected = worksheet_names(source)
        split = splits[os.path.abspath(source)]
        outputs = split.written()
        losses = split.losses()
        problems = ["failed: %s" % reason for reason in split.failures]
        if len(outputs) != len(expected):
            problems.append("%d outputs for %d worksheets: %s" % (len(outputs), len(expected), outputs))
        tally.check("split %s" % name, problems)
        for path in outputs:
            output = os.path.basename(path)
            label = "%s -> %s" % (name, output)
            found, _ = check_package.check(path)
            tally.check("package %s" % label, found)
            if schema:
                tally.check("schema %s" % label, schema.check(source, path))
            sheet = output_sheet(path)
            outputs_seen.append((source, path, sheet, losses.get(output, [])))
            if sheet is None:
                tally.check("sheet %s" % label, ["the output does not hold exactly one sheet"])
                continue
            try:
                twin = os.path.join(fixtures, TRANSITIONAL_TWINS.get(name, name))
                report = compare_sheet.compare_sheet(twin, sheet, path)
                tally.check("openpyxl %s" % label, report.items)
            except Exception as exc:  # an unreadable output is a failure to report, not a crash
                tally.check("openpyxl %s" % label, ["%s: %s" % (type(exc).__name__, exc)])
            pairs.append({"source": source, "sheet": sheet, "output": path})
    if pairs:
        text = io.StringIO()
        status = compare_cells.compare(pairs, out=text, exported=exported)
        lines = text.getvalue().splitlines()
        for line in lines:
            if line.startswith("OK"):
                tally.passed += 1
            else:
                print(line)
        bad = [line for line in lines if line.startswith(("DIFF", "ERROR"))]
        tally.failed.extend(bad)
        if status != 0 and not bad:
            tally.failed.append("LibreOffice comparison: status %d" % status)
        print("LibreOffice: %d outputs compared" % len(pairs))
    if schema:
        print(schema.tally.line())
    return outputs_seen


def main(argv=None):
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--only", default=None)
    ap.add_argument("--keep", default=None, help="work in this folder and keep it")
    a = ap.parse_args(argv)
    work = a.keep or tempfile.mkdtemp(prefix="tabrend-fixtures-")
    os.makedirs(work, exist_ok=True)
    tally = Tally()
    try:
        fixtures = os.path.join(work, "fixtures")
        args = [fixtures] + (["--only", a.only] if a.only else [])
        if make_fixtures.main(args) != 0:
            print("FAIL making the fixtures")
            return 1
        run(a.cli, fixtures, work, tally)
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (tally.passed, len(tally.failed)))
    return 1 if tally.failed else 0


if __name__ == "__main__":
    sys.exit(main())
