#!/usr/bin/python3
"""Seed corpora for the fuzz targets, made at run time (never committed).

    make_seeds.py SEEDS_DIR [WORKBOOK...]

Writes SEEDS_DIR/package (the given workbooks: the test fixtures, the sample, corpus files),
SEEDS_DIR/parts (the same workbooks as fuzz_parts texts), SEEDS_DIR/formula (formulas
found in them, plus hand-picked ones) and SEEDS_DIR/command_line.
"""
import os
import re
import shutil
import sys
import zipfile

MAX_PART = 12 * 1024      # a parts seed keeps XML parts up to this size
MAX_PARTS_SEED = 48 * 1024


def parts_text(path):
    """A workbook as a fuzz_parts text: its XML parts, small ones first, within a budget."""
    out = []
    size = 0
    with zipfile.ZipFile(path) as archive:
        infos = sorted(archive.infolist(), key=lambda info: info.file_size)
        for info in infos:
            if not re.search(r'\.(xml|rels)$', info.filename) or info.file_size > MAX_PART:
                continue
            data = archive.read(info.filename)
            if size + len(data) > MAX_PARTS_SEED:
                break
            out.append(b'=====' + info.filename.encode('utf-8') + b'\n' + data)
            size += len(data)
    return b'\n'.join(out)


FORMULA_RE = re.compile(rb'<(?:\w+:)?(?:f|formula|formula1|formula2|definedName)\b[^>]*>([^<]{1,2000})<')

HAND_PICKED_FORMULAS = [
    "A1+B2*$C$3", "SUM(A:A)+SUM(1:3)", "'My Sheet'!A1", "'It''s'!A1:B2", "Sheet1:Sheet3!A1",
    "'Sheet 1:Sheet 3'!A1", "[1]Sheet1!A1", "'[1]Sheet 1'!A1", "[1]!Name", "Sales[[#This Row],[Amount]]",
    "Sales[]", "SUM(Sales[Amount])", "\"a\"\"b\"&'x'!A1", "#REF!+#N/A", "{1,2;3,4}",
    "_xlfn.LET(_xlpm.x,2,_xlpm.x*A1)", "R1C1", "Data!$A$1:$B$2 Data!A:A", "IF(TRUE,1E+5,-2.5e-3)",
    "INDIRECT(\"Data!A1\")", "'Data'!A1", "Rate*2", "Data!Rate", "'A1'!B2", "XFD1048576", "$A$1:$XFD$1048576",
]

COMMAND_LINES = [
    "Book.xlsx out", "\"My Folder/Q1 2010.xlsx\" Out /name=2 /overwrite=0", "a\"b c\"d e",
    "\"unclosed a  b", "src \"\" out /verbose=1", "x!@@#!$%@#%$#@^y z", "--help", "/?",
    " ".join("t%d" % i for i in range(102)),
]


def main():
    seeds = sys.argv[1]
    folders = {name: os.path.join(seeds, name) for name in ('package', 'parts', 'formula', 'command_line')}
    for folder in folders.values():
        os.makedirs(folder, exist_ok=True)
    for index, source in enumerate(sys.argv[2:]):
        name = '%03d_%s' % (index, re.sub(r'[^A-Za-z0-9._-]', '_', os.path.basename(source)))
        shutil.copyfile(source, os.path.join(folders['package'], name))
    formulas = set(f.encode('utf-8') for f in HAND_PICKED_FORMULAS)
    for name in sorted(os.listdir(folders['package'])):
        path = os.path.join(folders['package'], name)
        try:
            text = parts_text(path)
            with zipfile.ZipFile(path) as archive:
                for info in archive.infolist():
                    if info.filename.endswith('.xml') and info.file_size < 1 << 20:
                        for found in FORMULA_RE.findall(archive.read(info.filename)):
                            formulas.add(found.replace(b'&amp;', b'&').replace(b'&lt;', b'<')
                                         .replace(b'&gt;', b'>').replace(b'&quot;', b'"').replace(b'&apos;', b"'"))
        except (zipfile.BadZipFile, OSError, ValueError, NotImplementedError, RuntimeError):
            continue
        with open(os.path.join(folders['parts'], name + '.txt'), 'wb') as out:
            out.write(text)
    for index, formula in enumerate(sorted(formulas)[:2000]):
        with open(os.path.join(folders['formula'], '%04d.txt' % index), 'wb') as out:
            out.write(formula)
    for index, line in enumerate(COMMAND_LINES):
        with open(os.path.join(folders['command_line'], '%02d.txt' % index), 'w') as out:
            out.write(line)


if __name__ == '__main__':
    main()
