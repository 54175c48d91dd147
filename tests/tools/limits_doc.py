#!/usr/bin/python3
"""The resource limits as the README and the manual page state them, made from spreadsheet/Limits.h.

    limits_doc.py SOURCE_DIR           exit 0 when both state exactly what Limits.h holds,
                                       1 with the differences listed
    limits_doc.py SOURCE_DIR --write   rewrite both from Limits.h

Limits.h holds the values; this file holds what each is called. The README's table and the
manual's list between the marker comments are written here and nowhere else.
"""
import re
import sys
import textwrap
from pathlib import Path

# (what the documents call it, its value in Limits.h's terms)
ROWS = [
    ("memory a split may use, whatever the input", "{kMemoryCeilingBytes:bytes}"),
    ("parts in a package", "{kMaxParts:count}"),
    ("one streamed part (a worksheet), decompressed", "{kMaxStreamedPartBytes:bytes}"),
    ("one part read whole (workbook, styles, relationships, drawings, charts)", "{kMaxLoadedPartBytes:bytes}"),
    ("one part parsed into a document tree (which takes several times its size)", "{kMaxParsedPartBytes:bytes}"),
    ("the shared-string part, decompressed (streamed)", "{kMaxSharedStringsPartBytes:bytes}"),
    ("memory the shared-string table may hold", "{kMaxSharedStringTableBytes:bytes}"),
    ("whole package, decompressed", "{kMaxPackageBytes:bytes}"),
    ("decompressed size over compressed size, for parts over {kRatioFloorBytes:bytes}", "{kMaxCompressionRatio:count}"),
    ("XML element nesting", "{kMaxXmlDepth:count} levels"),
    ("shared strings", "{kMaxSharedStrings:count}"),
    ("one element a sheet's copy must hold whole (a cell, a group of conditional formats)", "{kMaxHeldElementBytes:bytes}"),
    ("parts reached one behind another through relationships (sheet, drawing, chart, ...)", "{kMaxPartChain:count}"),
    ("rows and columns of a sheet", "{kMaxRows:count} \u00d7 {kMaxColumns:count}, the format's own grid"),
]

README_BEGIN = "<!-- limits: made from spreadsheet/Limits.h by tests/tools/limits_doc.py --write -->"
README_END = "<!-- end of limits -->"
MANUAL_BEGIN = '.\\" limits: made from spreadsheet/Limits.h by tests/tools/limits_doc.py --write'
MANUAL_END = '.\\" end of limits'


def read_limits(header):
    values = {}
    for name, expression in re.findall(r"constexpr\s+[\w:]+\s+(k\w+)\s*=\s*([^;]+);", header.read_text()):
        expression = re.sub(r"(\d)(?:ull|ul|u)\b", r"\1", expression.replace("'", ""))
        values[name] = eval(expression, {"__builtins__": {}})  # digits, shifts and parentheses only
    return values


def formatted(template, values):
    def one(match):
        value = values[match.group(1)]
        if match.group(2) == "count":
            return f"{value:,}"
        for unit, shift in (("GiB", 30), ("MiB", 20), ("KiB", 10)):
            if value >= 1 << shift and value % (1 << shift) == 0:
                return f"{value >> shift} {unit}"
        return f"{value} bytes"
    return re.sub(r"\{(\w+):(\w+)\}", one, template)


def blocks(values):
    rows = [(formatted(what, values), formatted(limit, values)) for what, limit in ROWS]
    readme = "| what | limit |\n|---|---|\n" + "".join(f"| {what} | {limit} |\n" for what, limit in rows)
    # Filled by roff: lines are cut where they pass 80 bytes, as mandoc would have them.
    manual = "".join(".IP \\(bu 2\n" + "\n".join(textwrap.wrap(f"{what}: {limit}", 72, break_on_hyphens=False)) + "\n" for what, limit in rows)
    return readme, manual.replace("-", "\\-").replace("\u00d7", "\\(mu")


def between(text, begin, end):
    start = text.index(begin) + len(begin) + 1
    return start, text.index(end, start)


def main():
    source = Path(sys.argv[1])
    write = "--write" in sys.argv[2:]
    readme_block, manual_block = blocks(read_limits(source / "spreadsheet/Limits.h"))
    problems = []
    for path, begin, end, block in ((source / "README.md", README_BEGIN, README_END, readme_block),
                                    (source / "CMD/tabrendcli.1", MANUAL_BEGIN, MANUAL_END, manual_block)):
        text = path.read_text()
        start, stop = between(text, begin, end)
        if text[start:stop] == block:
            continue
        if write:
            path.write_text(text[:start] + block + text[stop:])
        else:
            stated = set(text[start:stop].splitlines())
            problems += [f"{path.name} states {line!r}" for line in text[start:stop].splitlines() if line not in block.splitlines()]
            problems += [f"{path.name} lacks {line!r}" for line in block.splitlines() if line not in stated]
    for problem in problems:
        print(problem)
    if problems:
        print("Limits.h holds other limits: run tests/tools/limits_doc.py . --write")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
