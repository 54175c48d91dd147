#!/usr/bin/python3
"""Do split outputs show, in LibreOffice, the same cells as their source sheets?

How to run:
    /usr/bin/python3 tests/tools/compare_cells.py SOURCE.xlsx SHEET OUTPUT.xlsx [SHEET OUTPUT.xlsx ...]
    /usr/bin/python3 tests/tools/compare_cells.py --json < pairs.json

  The first form compares each OUTPUT with the named SHEET of one SOURCE.
  With --json, stdin holds a list whose items are [source, sheet, output] or
  {"source": ..., "sheet": ..., "output": ..., "ignore": ["A1", "B2:C4"]};
  sources may differ. Every file of the run, sources and outputs, is loaded in
  one LibreOffice start (see lo_cells.py).

Options:
  --ignore A1,B2:C4  cells not compared in any pair
  --strict           also compare the cells skipped by default (below)
  --recalc never|always|auto   LibreOffice's recalculation on load (default auto:
                     recalculated where the workbook asks for it, see lo_cells.py)
  --max-diffs N      differences printed per pair (default 20)
  --timeout S        for the whole soffice run (default 300)

Exit status: 0 every output has exactly one sheet and it shows the same cell
texts as its source sheet; 1 some output differs, has another number of
sheets, or does not load; 2 usage error, a source that LibreOffice cannot
load or a sheet it lacks, or soffice failing.

What is compared: the text of every non-empty cell as LibreOffice shows it
(number formats applied). A formula that a split replaced by its cached value
shows the same text, so such cells need no marking. Skipped unless --strict:
cells whose source formula calls a volatile function (NOW, TODAY, RAND,
RANDBETWEEN, RANDARRAY), which LibreOffice recalculates on every load, and
cells whose source formula points at another sheet or file but has no cached
value (openpyxl writes such formulas): LibreOffice computes them from the
other sheet, which an output cannot do.
"""

import argparse
import json
import sys

from lo_cells import LoError, cell_name, lo_cells, parse_cell_name
import xlsx_pkg


def expand_ranges(range_lists):
    cells = set()
    for range_list in range_lists:
        for item in range_list.replace(";", ",").split(","):
            item = item.strip().replace("$", "")
            if not item:
                continue
            if "!" in item:
                item = item.split("!", 1)[1]
            if ":" in item:
                a, b = item.split(":", 1)
                (r1, c1), (r2, c2) = parse_cell_name(a), parse_cell_name(b)
                for r in range(min(r1, r2), max(r1, r2) + 1):
                    for c in range(min(c1, c2), max(c1, c2) + 1):
                        cells.add((r, c))
            else:
                cells.add(parse_cell_name(item))
    return cells


def default_skips(source, sheet):
    """{(row, col): reason} of source cells LibreOffice cannot show alike in an output."""
    skips = {}
    try:
        with xlsx_pkg.Package(source) as pkg:
            info = pkg.sheet(sheet)
            if info is None or not info["part"] or not pkg.has(info["part"]):
                return skips
            elsewhere = xlsx_pkg.names_pointing_elsewhere(pkg, sheet)
            tables = pkg.table_sheets()
            own = sheet.lower()
            for ref, text, has_v in xlsx_pkg.scan_formulas(pkg, info["part"]):
                if not ref or text is None:
                    continue
                if xlsx_pkg.VOLATILE.search(text):
                    skips[parse_cell_name(ref)] = "volatile formula"
                    continue
                if has_v:
                    continue
                sheets, external, idents, used_tables = xlsx_pkg.formula_refs(text)
                if (external or any(s.lower() != own for s in sheets)
                        or any(i.lower() in elsewhere for i in idents)
                        or any(tables.get(t.lower(), sheet).lower() != own for t in used_tables)):
                    skips[parse_cell_name(ref)] = "formula on another sheet without cached value"
    except Exception as exc:  # the LibreOffice comparison still runs; say why skips are missing
        print("note: could not scan formulas of %s: %s" % (source, exc), file=sys.stderr)
    return skips


def compare(pairs, strict=False, ignore=(), recalc="auto", max_diffs=20, timeout=300, out=sys.stdout, exported=None):
    """Compare every pair; returns the exit status described above. exported: LibreOffice's
    cells of files another check exported already, with the same recalc (lo_cells)."""
    exported = exported or {}
    files = []
    for p in pairs:
        files += [f for f in (p["source"], p["output"]) if f not in exported]
    results = dict(exported)
    results.update(lo_cells(files, timeout=timeout, recalc=recalc))
    global_ignore = expand_ranges(ignore)
    status = 0
    for p in pairs:
        src, sheet, dst = p["source"], p["sheet"], p["output"]
        label = "%s [%s] -> %s" % (src, sheet, dst)
        sres, dres = results[src], results[dst]
        if sres.error:
            print("ERROR %s: source: %s" % (label, sres.error), file=out)
            status = max(status, 2)
            continue
        if sheet not in sres.sheets:
            print("ERROR %s: LibreOffice shows no sheet %r in the source (it has %s)"
                  % (label, sheet, list(sres.sheets)), file=out)
            status = max(status, 2)
            continue
        if dres.error:
            print("DIFF %s: output: %s" % (label, dres.error), file=out)
            status = max(status, 1)
            continue
        if len(dres.sheets) != 1:
            print("DIFF %s: output has %d sheets %s, expected one"
                  % (label, len(dres.sheets), list(dres.sheets)), file=out)
            status = max(status, 1)
            continue
        out_sheet, dcells = next(iter(dres.sheets.items()))
        scells = sres.sheets[sheet]
        skipped = {} if strict else default_skips(src, sheet)
        ignored = global_ignore | expand_ranges(p.get("ignore", []))
        diffs = []
        for key in sorted(set(scells) | set(dcells)):
            if key in ignored or key in skipped:
                continue
            a, b = scells.get(key, ""), dcells.get(key, "")
            if a != b:
                diffs.append((key, a, b))
        if diffs:
            status = max(status, 1)
            print("DIFF %s: %d of %d cells differ%s" % (label, len(diffs), len(scells),
                  "" if out_sheet == sheet else " (output sheet is named %r)" % out_sheet), file=out)
            for key, a, b in diffs[:max_diffs]:
                print("  %-8s source %-30s output %s" % (cell_name(*key), json.dumps(a, ensure_ascii=False),
                                                         json.dumps(b, ensure_ascii=False)), file=out)
            if len(diffs) > max_diffs:
                print("  ... %d more" % (len(diffs) - max_diffs), file=out)
        else:
            note = ""
            if skipped:
                note = ", %d skipped (%s)" % (len(skipped), ", ".join(sorted(set(skipped.values()))))
            print("OK   %s: %d cells%s" % (label, len(scells), note), file=out)
    return status


def main(argv=None):
    ap = argparse.ArgumentParser(usage=__doc__.split("How to run:")[1].split("\n\n")[0])
    ap.add_argument("args", nargs="*")
    ap.add_argument("--json", action="store_true")
    ap.add_argument("--ignore", action="append", default=[])
    ap.add_argument("--strict", action="store_true")
    ap.add_argument("--recalc", choices=("never", "always", "auto"), default="auto")
    ap.add_argument("--max-diffs", type=int, default=20)
    ap.add_argument("--timeout", type=float, default=300)
    a = ap.parse_args(argv)
    pairs = []
    if a.json:
        try:
            for item in json.load(sys.stdin):
                if isinstance(item, dict):
                    pairs.append(item)
                else:
                    pairs.append({"source": item[0], "sheet": item[1], "output": item[2]})
        except (ValueError, IndexError, TypeError) as exc:
            print("compare_cells: bad JSON on stdin: %s" % exc, file=sys.stderr)
            return 2
    else:
        if len(a.args) < 3 or (len(a.args) - 1) % 2:
            ap.print_usage(sys.stderr)
            return 2
        src = a.args[0]
        for i in range(1, len(a.args), 2):
            pairs.append({"source": src, "sheet": a.args[i], "output": a.args[i + 1]})
    if not pairs:
        print("compare_cells: nothing to compare", file=sys.stderr)
        return 2
    try:
        return compare(pairs, a.strict, a.ignore, a.recalc, a.max_diffs, a.timeout)
    except LoError as exc:
        print("compare_cells: %s" % exc, file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
