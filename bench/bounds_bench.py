#!/usr/bin/python3
"""Peak memory and time of tabrendcli on inputs made to make it spend, and on a big real one.

    bounds_bench.py --tabrendcli build/bin/tabrendcli [--quick]

Each input is split into a fresh folder; the line printed gives the exit status, the wall
time, the peak resident memory, and whether that stayed under the 1 GiB ceiling:
- a small file whose relationships part inflates to 200 MB (refused: parsed parts are bounded);
- 25 million one-character shared strings (refused: more than the 20 million allowed);
- 20 million one-character shared strings, each used once by a sheet of 1,000,000 rows by
  20 columns (split, its peak under 600 MB: a table that fits its bound must fit in memory);
- 100,000 defined names chained one on the next (split: names resolve in linear time);
- an ordinary big workbook: 1,000,000 rows holding 5,000,000 unique strings (split).
--quick makes each input ten times smaller.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time
import zipfile

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"
CEILING = 1 << 30


def package(path, sheet_rows, strings=None, workbook_extra="", workbook_rels_extra=b"", sheets=("Data",)):
    """A minimal package; sheet_rows and strings are iterables of XML text, streamed."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        overrides = "".join(
            f'<Override PartName="/xl/worksheets/sheet{i + 1}.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
            for i in range(len(sheets)))
        sst = ('<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>'
               if strings is not None else "")
        z.writestr("[Content_Types].xml",
                   '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                   '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
                   + overrides + sst + "</Types>")
        z.writestr("_rels/.rels", f'<Relationships xmlns="{PKG}"><Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>')
        z.writestr("xl/workbook.xml", f'<workbook xmlns="{MAIN}" xmlns:r="{REL}"><sheets>'
                   + "".join(f'<sheet name="{name}" sheetId="{i + 1}" r:id="rId{i + 1}"/>' for i, name in enumerate(sheets))
                   + "</sheets>" + workbook_extra + "</workbook>")
        with z.open("xl/_rels/workbook.xml.rels", "w", force_zip64=True) as part:
            part.write(f'<Relationships xmlns="{PKG}">'.encode())
            for i in range(len(sheets)):
                part.write(f'<Relationship Id="rId{i + 1}" Type="{REL}/worksheet" Target="worksheets/sheet{i + 1}.xml"/>'.encode())
            if strings is not None:
                part.write(f'<Relationship Id="rIdS" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/>'.encode())
            part.write(workbook_rels_extra)
            part.write(b"</Relationships>")
        for i in range(len(sheets)):
            with z.open(f"xl/worksheets/sheet{i + 1}.xml", "w", force_zip64=True) as part:
                part.write(f'<worksheet xmlns="{MAIN}"><sheetData>'.encode())
                for row in (sheet_rows if i == 0 else []):
                    part.write(row.encode())
                part.write(b"</sheetData></worksheet>")
        if strings is not None:
            with z.open("xl/sharedStrings.xml", "w", force_zip64=True) as part:
                part.write(f'<sst xmlns="{MAIN}">'.encode())
                buffer = []
                for text in strings:
                    buffer.append(text)
                    if len(buffer) >= 100000:
                        part.write("".join(buffer).encode())
                        buffer = []
                part.write(("".join(buffer) + "</sst>").encode())


def columns(n):
    name = ""
    n += 1
    while n:
        n, r = divmod(n - 1, 26)
        name = chr(65 + r) + name
    return name


def measure(cli, source, label, target=CEILING):
    with tempfile.TemporaryDirectory() as out:
        started = time.monotonic()
        process = subprocess.Popen([cli, source, out, "/verbose=1"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        _, status, usage = os.wait4(process.pid, 0)
        elapsed = time.monotonic() - started
        process.stderr.read()
        peak = usage.ru_maxrss * 1024
        code = os.waitstatus_to_exitcode(status)
        bound = "the 1 GiB ceiling" if target == CEILING else f"{target / 1e6:.0f} MB"
        print(f"{label}: exit {code}, {elapsed:.2f} s, peak {peak / (1 << 20):.0f} MiB"
              f" ({'under' if peak < target else 'OVER'} {bound})", flush=True)
        return peak < target


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tabrendcli", required=True)
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    cli = os.path.abspath(args.tabrendcli)
    scale = 10 if args.quick else 1
    row = '<row r="1"><c r="A1"><v>1</v></c></row>'
    ok = True
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "rels.xlsx")
        filler = b"".join(f'<Relationship Id="x{i}" Type="{REL}/custom" Target="x{i}.xml"/>'.encode() for i in range(1000))
        package(path, [row], workbook_rels_extra=filler * (2_000_000 // scale // 1000 * 1000 // 1000))
        ok &= measure(cli, path, f"relationships part of {os.path.getsize(path) >> 20} MB inflating to ~{2_000_000 // scale * 100 >> 20} MB")

        path = os.path.join(work, "strings.xlsx")
        count = 25_000_000 // scale
        package(path, [row], strings=("<si><t>%d</t></si>" % (i % 10) for i in range(count)))
        ok &= measure(cli, path, f"{count:,} shared strings in {os.path.getsize(path) >> 20} MB")

        path = os.path.join(work, "used_strings.xlsx")
        rows, width = 1_000_000 // scale, 20
        names = [columns(c) for c in range(width)]
        package(path, (f'<row r="{r}">' + "".join(f'<c r="{names[c]}{r}" t="s"><v>{(r - 1) * width + c}</v></c>' for c in range(width))
                       + "</row>" for r in range(1, rows + 1)),
                strings=("<si><t>%s</t></si>" % chr(97 + i % 26) for i in range(rows * width)))
        ok &= measure(cli, path, f"{rows * width:,} one-character shared strings used by {rows:,} rows x {width} columns, "
                      f"{os.path.getsize(path) >> 20} MB", target=600_000_000 // scale)

        path = os.path.join(work, "names.xlsx")
        names = 100_000 // scale
        defined = ('<definedName name="Nm_0">Other!$A$1</definedName>'
                   + "".join(f'<definedName name="Nm_{i}">Nm_{i - 1}+1</definedName>' for i in range(1, names)))
        package(path, [row], workbook_extra=f"<definedNames>{defined}</definedNames>", sheets=("Data", "Other"))
        ok &= measure(cli, path, f"{names:,} chained defined names")

        path = os.path.join(work, "big.xlsx")
        rows = 1_000_000 // scale
        width = 5

        def sheet():
            for r in range(1, rows + 1):
                cells = "".join(f'<c r="{columns(c)}{r}" t="s"><v>{(r - 1) * width + c}</v></c>' for c in range(width))
                yield f'<row r="{r}">{cells}</row>'

        package(path, sheet(), strings=(f"<si><t>text {n}</t></si>" for n in range(rows * width)))
        ok &= measure(cli, path, f"ordinary big workbook: {rows:,} rows, {rows * width:,} unique strings, {os.path.getsize(path) >> 20} MB")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
