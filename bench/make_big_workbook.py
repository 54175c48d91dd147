#!/usr/bin/python3
"""Writes a large styled workbook with shared strings, for the benchmarks.

    make_big_workbook.py OUT.xlsx --sheets 8 --rows 20000 --cols 8

Each sheet holds numbers, dates, booleans, shared strings (a vocabulary reused across
sheets, as real workbooks do) and a formula per row, with several cell styles, column
widths, a frozen header row and a merged title. The package is written directly, row by row,
so a sheet part of hundreds of megabytes costs no memory here.
"""
import argparse
import random
import zipfile

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"

STYLES = f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<styleSheet xmlns="{MAIN}"><numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy-mm-dd"/></numFmts>
<fonts count="2"><font><sz val="11"/><name val="Calibri"/></font><font><b/><sz val="11"/><color rgb="FF1F4E79"/><name val="Calibri"/></font></fonts>
<fills count="3"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill>
<fill><patternFill patternType="solid"><fgColor rgb="FFDDEBF7"/><bgColor indexed="64"/></patternFill></fill></fills>
<borders count="2"><border><left/><right/><top/><bottom/><diagonal/></border>
<border><left style="thin"/><right style="thin"/><top style="thin"/><bottom style="thin"/><diagonal/></border></borders>
<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>
<cellXfs count="5"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>
<xf numFmtId="0" fontId="1" fillId="2" borderId="1" xfId="0" applyFont="1" applyFill="1" applyBorder="1"/>
<xf numFmtId="4" fontId="0" fillId="0" borderId="1" xfId="0" applyNumberFormat="1" applyBorder="1"/>
<xf numFmtId="164" fontId="0" fillId="0" borderId="1" xfId="0" applyNumberFormat="1" applyBorder="1"/>
<xf numFmtId="0" fontId="0" fillId="0" borderId="1" xfId="0" applyBorder="1"/></cellXfs>
<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles></styleSheet>"""

WORDS = ["north", "south", "east", "west", "alpha", "beta", "gamma", "delta", "invoice", "order",
         "customer", "supplier", "pending", "shipped", "returned", "approved"]


def column(index):
    name = ""
    index += 1
    while index:
        index, rest = divmod(index - 1, 26)
        name = chr(65 + rest) + name
    return name


def write(path, sheets, rows, cols, seed=7):
    rng = random.Random(seed)
    vocabulary = [f"{rng.choice(WORDS)} {rng.choice(WORDS)} {n}" for n in range(5000)]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as package:
        overrides = "".join(
            f'<Override PartName="/xl/worksheets/sheet{s}.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
            for s in range(1, sheets + 1))
        package.writestr("[Content_Types].xml", f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/>
<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>
<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>
<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>{overrides}</Types>""")
        package.writestr("_rels/.rels", f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>""")
        sheet_list = "".join(f'<sheet name="Region {s}" sheetId="{s}" r:id="rId{s}"/>' for s in range(1, sheets + 1))
        package.writestr("xl/workbook.xml", f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<workbook xmlns="{MAIN}" xmlns:r="{REL}"><bookViews><workbookView/></bookViews><sheets>{sheet_list}</sheets>
<definedNames><definedName name="_xlnm.Print_Titles" localSheetId="0">'Region 1'!$2:$2</definedName></definedNames></workbook>""")
        rels = "".join(f'<Relationship Id="rId{s}" Type="{REL}/worksheet" Target="worksheets/sheet{s}.xml"/>'
                       for s in range(1, sheets + 1))
        rels += f'<Relationship Id="rId{sheets + 1}" Type="{REL}/styles" Target="styles.xml"/>'
        rels += f'<Relationship Id="rId{sheets + 2}" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/>'
        package.writestr("xl/_rels/workbook.xml.rels", f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">{rels}</Relationships>""")
        package.writestr("xl/styles.xml", STYLES)
        used = 0
        for s in range(1, sheets + 1):
            with package.open(f"xl/worksheets/sheet{s}.xml", "w", force_zip64=True) as part:
                last = column(cols - 1)
                widths = "".join(f'<col min="{c + 1}" max="{c + 1}" width="{12 + c}" customWidth="1"/>' for c in range(cols))
                part.write(f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="{MAIN}" xmlns:r="{REL}"><dimension ref="A1:{last}{rows + 2}"/><sheetViews><sheetView workbookViewId="0"><pane ySplit="2" topLeftCell="A3" activePane="bottomLeft" state="frozen"/></sheetView></sheetViews>
<sheetFormatPr defaultRowHeight="15"/><cols>{widths}</cols><sheetData>""".encode())
                part.write(f'<row r="1"><c r="A1" s="1" t="s"><v>{s % 5000}</v></c></row>'.encode())
                header = "".join(f'<c r="{column(c)}2" s="1" t="s"><v>{(c * 37) % 5000}</v></c>' for c in range(cols))
                part.write(f'<row r="2">{header}</row>'.encode())
                chunk = []
                for r in range(3, rows + 3):
                    cells = []
                    for c in range(cols):
                        ref = f"{column(c)}{r}"
                        kind = c % 4
                        if kind == 0:
                            cells.append(f'<c r="{ref}" s="4" t="s"><v>{rng.randrange(5000)}</v></c>')
                            used += 1
                        elif kind == 1:
                            cells.append(f'<c r="{ref}" s="2"><v>{rng.uniform(0, 100000):.2f}</v></c>')
                        elif kind == 2:
                            cells.append(f'<c r="{ref}" s="3"><v>{40000 + rng.randrange(3000)}</v></c>')
                        else:
                            prev = column(c - 2)
                            cells.append(f'<c r="{ref}" s="2"><f>{prev}{r}*2</f><v>{rng.uniform(0, 9):.3f}</v></c>')
                    chunk.append(f'<row r="{r}">{"".join(cells)}</row>')
                    if len(chunk) >= 2000:
                        part.write("".join(chunk).encode())
                        chunk = []
                part.write("".join(chunk).encode())
                part.write(f'</sheetData><mergeCells count="1"><mergeCell ref="A1:{last}1"/></mergeCells>'
                           '<pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/></worksheet>'.encode())
        items = "".join(f"<si><t>{word}</t></si>" for word in vocabulary)
        package.writestr("xl/sharedStrings.xml", f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<sst xmlns="{MAIN}" count="{used + sheets * (cols + 1)}" uniqueCount="{len(vocabulary)}">{items}</sst>""")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--sheets", type=int, default=8)
    parser.add_argument("--rows", type=int, default=20000)
    parser.add_argument("--cols", type=int, default=8)
    arguments = parser.parse_args()
    write(arguments.out, arguments.sheets, arguments.rows, arguments.cols)
