#!/usr/bin/python3
"""Does a split output keep everything of its source sheet? (openpyxl + the raw package)

How to run:
    /usr/bin/python3 tests/tools/compare_sheet.py SOURCE.xlsx "SHEET" OUTPUT.xlsx
        [--name NEW]        the output sheet was renamed to NEW (default: SHEET)
        [--allow-value A1,B2:C3]  cells whose formula may legitimately be a value
        [--max-diffs N]     differences printed (default 50)

Exit status: 0 nothing lost; 1 differences (printed one per line, grouped by
what they concern); 2 a file cannot be read or the sheet is missing.

Compared: cell values and types; formulas, where a formula that points at
another sheet, another file, a table or a name that lives elsewhere must be
gone from the output and replaced by its cached value, and every other
formula stays with the same text (own-sheet qualifiers aside) and cached
value; array and data-table formula ranges; rich text runs and phonetics of
strings; per-cell style (named style, font, fill, border, alignment, number
format, protection, quote prefix); hyperlinks and comments per cell; merged
cells; column widths, hidden and outline levels and styles; row heights,
hidden and outline levels; the sheet format defaults; sheet views (panes,
zoom, gridlines, selection; tab selection aside); sheet properties (tab
colour, outline and fit-to-page settings); page setup (the printer settings
part id aside), print options, margins, header and footer, page breaks;
sheet protection; autofilter; data validations and conditional formats
(rules pointing elsewhere may be dropped or turned into literal lists);
defined names that belong to the sheet (print area and titles included);
the workbook's date system and theme; counts of pictures, charts, shapes,
comments, threaded comments, tables, pivot tables, hyperlinks, sparklines,
header/footer pictures, background pictures, controls and OLE objects.
The output sheet must be the workbook's only sheet and visible.
"""

import argparse
import sys
import warnings
import xml.etree.ElementTree as ET

warnings.filterwarnings("ignore")

import openpyxl  # noqa: E402
import openpyxl_merges  # noqa: E402,F401  (merged cells styled once per style, not per cell)
from openpyxl.cell.cell import Cell  # noqa: E402

import xlsx_pkg  # noqa: E402
from compare_cells import expand_ranges  # noqa: E402
from lo_cells import cell_name  # noqa: E402


class Report:
    def __init__(self, limit):
        self.items = []
        self.limit = limit

    def add(self, section, text):
        self.items.append("%-12s %s" % (section, text))


def xml_of(obj, drop=()):
    """Serialised openpyxl object, with some attributes left out, for comparison."""
    if obj is None:
        return None
    try:
        tree = obj.to_tree()
    except TypeError:
        tree = obj.to_tree(obj.tagname)
    if tree is None:
        return None
    for el in tree.iter():
        for key in list(el.attrib):
            if xlsx_pkg.local(key) in drop:
                del el.attrib[key]
    return ET.tostring(tree, encoding="unicode")


def style_key(cell):
    """Serialised style of a cell. openpyxl hands out proxies that never compare equal
    across workbooks, so styles are compared by their XML, cached per style array in the
    workbook itself: a cache keyed by id(workbook) outlives the workbook, and a later one given
    the same id would read the styles of the one before."""
    if getattr(cell, "_style", None) is None:
        return ("merged cell: openpyxl keeps no style",) * len(STYLE_PARTS)
    cache = cell.parent.parent.__dict__.setdefault("_style_keys", {})
    key = tuple(cell._style)
    if key not in cache:
        try:
            named = cell.style
        except IndexError:  # openpyxl cannot name some LibreOffice named styles ("*unknown*")
            named = "(unnamed style %d)" % cell._style.xfId
        cache[key] = (named, xml_of(cell.font), xml_of(cell.fill), xml_of(cell.border),
                      xml_of(cell.alignment), cell.number_format, xml_of(cell.protection),
                      bool(getattr(cell, "quotePrefix", False)))
    return cache[key]


STYLE_PARTS = ("named style", "font", "fill", "border", "alignment", "number format",
               "protection", "quote prefix")


def describe_style_diff(a, b):
    parts = []
    for name, x, y in zip(STYLE_PARTS, style_key(a), style_key(b)):
        if x != y:
            parts.append("%s %s != %s" % (name, x, y))
    return "; ".join(parts)


def same_value(a, b):
    if isinstance(a, float) or isinstance(b, float):
        try:
            return float(a) == float(b)
        except (TypeError, ValueError):
            return False
    return a == b


class Side:
    """One workbook, its sheet, its cached values and its raw package."""

    def __init__(self, path, sheet_name):
        self.path = path
        self.wb = openpyxl.load_workbook(path)
        self.values = openpyxl.load_workbook(path, data_only=True)
        self.pkg = xlsx_pkg.Package(path)
        self.full_calc = self.pkg.workbook()["full_calc_on_load"]
        self.name = sheet_name
        if sheet_name is None:
            self.ws = None
        else:
            self.ws = self.wb[sheet_name] if sheet_name in self.wb.sheetnames else None
        self.vs = self.values[self.ws.title] if self.ws is not None else None


def classify_elsewhere(side, sheet_name):
    """Predicate: does a formula text reach beyond the sheet `sheet_name`?"""
    elsewhere = xlsx_pkg.names_pointing_elsewhere(side.pkg, sheet_name)
    tables = side.pkg.table_sheets()
    own = sheet_name.lower()

    def reaches(text):
        sheets, external, idents, used_tables = xlsx_pkg.formula_refs(text)
        return (external or any(s.lower() != own for s in sheets)
                or any(i.lower() in elsewhere for i in idents)
                or any(tables.get(t.lower(), sheet_name).lower() != own for t in used_tables))
    return reaches


def raw_formula_attrs(pkg, part):
    """{ref: (t, ref, dt2D, dtr, del1, del2, r1, r2, aca)} of array and data-table formulas."""
    out = {}
    pos = xlsx_pkg.CellPos()
    with pkg.open(part) as stream:
        ref = None
        for event, el in ET.iterparse(stream, events=("start", "end")):
            tag = xlsx_pkg.local(el.tag)
            if event == "start":
                if tag == "c":
                    ref = pos.start_cell(el)
                elif tag == "row":
                    pos.start_row(el)
                continue
            if tag == "f" and el.get("t") in ("array", "dataTable"):
                out[ref] = tuple(el.get(k) for k in ("t", "ref", "dt2D", "dtr", "del1", "del2",
                                                       "r1", "r2", "aca"))
            elif tag == "row":
                el.clear()
    return out


def compare_cells(src, dst, rep, own_names, allow_value):
    ws, os_ = src.ws, dst.ws
    reaches = classify_elsewhere(src, src.ws.title)
    out_reaches = classify_elsewhere(dst, dst.ws.title)
    out_names = {n["name"].lower() for n in dst.pkg.workbook()["names"]}
    src_names = {n["name"].lower() for n in src.pkg.workbook()["names"]}
    optional_names = {n["name"].lower() for n in src.pkg.workbook()["names"]
                      if n["localSheetId"] is None and not xlsx_pkg.formula_refs(n["text"])[0]}
    src_arr = raw_formula_attrs(src.pkg, src.pkg.sheet(ws.title)["part"])
    dst_arr = raw_formula_attrs(dst.pkg, dst.pkg.sheet(os_.title)["part"])
    keys = sorted(set(ws._cells) | set(os_._cells))
    for key in keys:
        a = ws._cells.get(key) or Cell(ws, row=key[0], column=key[1])
        b = os_._cells.get(key) or Cell(os_, row=key[0], column=key[1])
        ref = cell_name(key[0] - 1, key[1] - 1)
        a_cached = src.vs._cells[key].value if key in src.vs._cells else None
        b_cached = dst.vs._cells[key].value if key in dst.vs._cells else None
        a_is_f = a.data_type == "f"
        b_is_f = b.data_type == "f"
        reported_dangling = False
        if a_is_f:
            text = a.value if isinstance(a.value, str) else str(a.value)
            allowed = (key[0] - 1, key[1] - 1) in allow_value
            # A formula on a name that the output may leave out (a workbook-level constant)
            # may become its value as well.
            uses_optional = any(i.lower() in optional_names and i.lower() not in out_names
                                for i in xlsx_pkg.formula_refs(text)[2])
            elsewhere = reaches(text) or allowed or uses_optional
            if elsewhere:
                if b_is_f:
                    if reaches(b.value) or not (allowed or uses_optional):
                        rep.add("formula", "%s: %s points beyond the sheet yet is still a formula in "
                                "the output: %s" % (ref, text, b.value))
                        reported_dangling = True
                # One saved without a result, or in a workbook whose results are placeholders
                # (it asks to be calculated on opening), gets what LibreOffice calculates for
                # it, which the LibreOffice check compares with the source.
                elif a_cached is not None and not src.full_calc and not same_value(a_cached, b.value):
                    rep.add("formula", "%s: %s should become its cached value %r, output has %r"
                            % (ref, text, a_cached, b.value))
            else:
                if not b_is_f:
                    rep.add("formula", "%s: formula %s lost, output has value %r" % (ref, text, b.value))
                else:
                    ta = xlsx_pkg.strip_own_sheet(text, own_names)
                    tb = xlsx_pkg.strip_own_sheet(b.value, own_names)
                    if ta != tb:
                        rep.add("formula", "%s: %s != %s" % (ref, text, b.value))
                    if not same_value(a_cached, b_cached):
                        rep.add("value", "%s: cached value of %s: %r != %r" % (ref, text, a_cached, b_cached))
                if src_arr.get(ref) != dst_arr.get(ref):
                    rep.add("formula", "%s: array/data-table attributes %s != %s"
                            % (ref, src_arr.get(ref), dst_arr.get(ref)))
        else:
            if b_is_f:
                rep.add("formula", "%s: value %r became formula %s" % (ref, a.value, b.value))
            elif not same_value(a.value, b.value) or a.data_type != b.data_type:
                rep.add("value", "%s: %r (%s) != %r (%s)" % (ref, a.value, a.data_type, b.value, b.data_type))
        if b_is_f and isinstance(b.value, str) and not reported_dangling:
            sheets, external, idents, tables = xlsx_pkg.formula_refs(b.value)
            missing = [i for i in idents if i.lower() in src_names and i.lower() not in out_names]
            if out_reaches(b.value) or missing:
                rep.add("formula", "%s: output formula %s reaches beyond its sheet%s"
                        % (ref, b.value, " (names %s are missing)" % ", ".join(missing) if missing else ""))
        if style_key(a) != style_key(b):
            rep.add("style", "%s: %s" % (ref, describe_style_diff(a, b)))
        ha, hb = a.hyperlink, b.hyperlink
        if ha is not None or hb is not None:
            ka = (ha.target, ha.location, ha.tooltip, ha.display) if ha is not None else None
            kb = (hb.target, hb.location, hb.tooltip, hb.display) if hb is not None else None
            if ka != kb:
                dropped_ok = (ha is not None and hb is None and not ha.target and ha.location
                              and reaches(ha.location))
                if not dropped_ok:
                    rep.add("hyperlink", "%s: %s != %s" % (ref, ka, kb))
        ca, cb = a.comment, b.comment
        ka = (ca.text, ca.author) if ca is not None else None
        kb = (cb.text, cb.author) if cb is not None else None
        if ka != kb:
            rep.add("comment", "%s: %r != %r" % (ref, ka, kb))


def compare_rich_text(src, dst, rep):
    sa = xlsx_pkg.scan_string_cells(src.pkg, src.pkg.sheet(src.ws.title)["part"], xlsx_pkg.shared_strings(src.pkg))
    sb = xlsx_pkg.scan_string_cells(dst.pkg, dst.pkg.sheet(dst.ws.title)["part"], xlsx_pkg.shared_strings(dst.pkg))
    for ref in sorted(set(sa) & set(sb)):
        if sa[ref] != sb[ref]:
            rep.add("rich text", "%s: runs or phonetics differ: %s != %s" % (ref, _short(sa[ref]), _short(sb[ref])))


def _short(value, n=160):
    s = repr(value)
    return s if len(s) <= n else s[:n] + "..."


def dim_style(dim):
    return (xml_of(dim.font), xml_of(dim.fill), xml_of(dim.border), dim.number_format,
            xml_of(dim.alignment), xml_of(dim.protection))


def per_column(ws):
    out = {}
    for dim in ws.column_dimensions.values():
        lo = dim.min or openpyxl.utils.column_index_from_string(dim.index)
        hi = dim.max or lo
        key = (round(dim.width or 0, 6) if dim.customWidth or dim.width else None,
               bool(dim.hidden), dim.outline_level or 0, bool(dim.collapsed),
               # By what the style is, not its position: openpyxl numbers a column without
               # a style by where its list holds the default, which repeats in an output.
               dim_style(dim))
        for i in range(lo, min(hi, 16384) + 1):
            out[i] = key
    return out


def per_row(ws):
    out = {}
    for idx, dim in ws.row_dimensions.items():
        key = (dim.ht if dim.customHeight or dim.ht is not None else None, bool(dim.hidden),
               dim.outline_level or 0, bool(dim.collapsed), bool(dim.thickBot), bool(dim.thickTop),
               dim_style(dim) if dim.customFormat else None)
        if key != (None, False, 0, False, False, False, None):
            out[idx] = key
    return out


def compare_layout(src, dst, rep):
    a, b = src.ws, dst.ws
    ma = sorted(str(r) for r in a.merged_cells.ranges)
    mb = sorted(str(r) for r in b.merged_cells.ranges)
    if ma != mb:
        rep.add("merged", "%s != %s" % (sorted(set(ma) - set(mb)), sorted(set(mb) - set(ma))))
    ca, cb = per_column(a), per_column(b)
    default = (None, False, 0, False, None)
    for i in sorted(set(ca) | set(cb)):
        x, y = ca.get(i, default), cb.get(i, default)
        if x != y:
            rep.add("column", "%s: (width, hidden, outline, collapsed, style) %s != %s"
                    % (openpyxl.utils.get_column_letter(i), x[:4], y[:4]) + (" style differs" if x[4] != y[4] else ""))
    ra, rb = per_row(a), per_row(b)
    for i in sorted(set(ra) | set(rb)):
        x, y = ra.get(i), rb.get(i)
        if x != y:
            rep.add("row", "%d: (height, hidden, outline, collapsed, thickBot, thickTop) %s != %s%s"
                    % (i, x and x[:6], y and y[:6], " style differs" if (x and x[6]) != (y and y[6]) else ""))
    checks = [
        ("sheetFormat", a.sheet_format, b.sheet_format, ()),
        ("sheetPr", a.sheet_properties, b.sheet_properties, ()),
        ("pageSetup", a.page_setup, b.page_setup, ("id",)),
        ("printOptions", a.print_options, b.print_options, ()),
        ("pageMargins", a.page_margins, b.page_margins, ()),
        ("headerFooter", a.HeaderFooter, b.HeaderFooter, ()),
        ("rowBreaks", a.row_breaks, b.row_breaks, ()),
        ("colBreaks", a.col_breaks, b.col_breaks, ()),
        ("protection", a.protection, b.protection, ()),
        ("autoFilter", a.auto_filter, b.auto_filter, ()),
    ]
    for label, x, y, drop in checks:
        if xml_of(x, drop) != xml_of(y, drop):
            rep.add(label, "%s != %s" % (xml_of(x, drop), xml_of(y, drop)))
    va = [xml_of(v, ("tabSelected",)) for v in a.views.sheetView]
    vb = [xml_of(v, ("tabSelected",)) for v in b.views.sheetView]
    if va != vb:
        rep.add("sheetView", "%s != %s" % (va, vb))


def compare_rules(src, dst, rep):
    reaches = classify_elsewhere(src, src.ws.title)
    # Data validations: those pointing elsewhere may vanish or become literal lists.
    a = [(xml_of(dv), dv) for dv in src.ws.data_validations.dataValidation]
    b = [(xml_of(dv), dv) for dv in dst.ws.data_validations.dataValidation]
    b_left = [x for x, _ in b]
    for text, dv in a:
        if text in b_left:
            b_left.remove(text)
            continue
        if any(reaches(f or "") for f in (dv.formula1, dv.formula2)):
            match = [x for x, d in b if x in b_left and str(d.sqref) == str(dv.sqref)
                     and d.type == "list" and (d.formula1 or "").startswith('"')]
            if match:
                b_left.remove(match[0])
            continue
        rep.add("validation", "lost or changed: %s" % text)
    for text in b_left:
        rep.add("validation", "not in the source: %s" % text)
    out_reaches = classify_elsewhere(dst, dst.ws.title)
    for text, dv in b:
        if any(out_reaches(f or "") for f in (dv.formula1, dv.formula2)):
            rep.add("validation", "points beyond its sheet in the output: %s" % text)

    out_reaches = classify_elsewhere(dst, dst.ws.title)

    def rules(ws):
        out = []
        for cf in ws.conditional_formatting:
            for rule in cf.rules:
                dxf = xml_of(rule.dxf) if getattr(rule, "dxf", None) is not None else None
                out.append((str(cf.sqref), xml_of(rule, ("dxfId",)), dxf, rule))
        return out
    ra, rb = rules(src.ws), rules(dst.ws)
    rb_keys = [r[:3] for r in rb]
    for sq, text, dxf, rule in ra:
        if (sq, text, dxf) in rb_keys:
            rb_keys.remove((sq, text, dxf))
        elif any(reaches(f) for f in (rule.formula or [])):
            # May be dropped, or kept with the value it showed in place of the reference.
            literal = [k for k, r in zip([x[:3] for x in rb], rb) if k in rb_keys and k[0] == sq and k[2] == dxf
                       and r[3].type == rule.type and r[3].operator == rule.operator
                       and not any(out_reaches(f) for f in (r[3].formula or []))]
            if literal:
                rb_keys.remove(literal[0])
        else:
            rep.add("condFormat", "lost or changed: %s %s dxf=%s" % (sq, text, dxf))
    for key in rb_keys:
        rep.add("condFormat", "not in the source: %s %s" % key[:2])
    for sq, text, dxf, rule in rb:
        if any(out_reaches(f) for f in (rule.formula or [])):
            rep.add("condFormat", "points beyond its sheet in the output: %s %s" % (sq, text))


def compare_names(src, dst, rep, own_names):
    wa, wb_ = src.pkg.workbook(), dst.pkg.workbook()
    sheet = src.pkg.sheet(src.ws.title)
    index = str(wa["sheets"].index(sheet))
    own = src.ws.title.lower()
    expected, optional = {}, {}
    for n in wa["names"]:
        text = xlsx_pkg.strip_own_sheet(n["text"], own_names)
        sheets, external, _, _ = xlsx_pkg.formula_refs(n["text"])
        if n["localSheetId"] == index:
            if external or any(s.lower() != own for s in sheets):
                continue  # a scoped name pointing at another sheet cannot come along intact
            expected[(n["name"].lower(), "local")] = text
        elif n["localSheetId"] is None:
            if external or any(s.lower() != own for s in sheets) or "#REF!" in n["text"]:
                continue
            (expected if sheets else optional)[(n["name"].lower(), "global")] = text
    got = {}
    for n in wb_["names"]:
        scope = "global" if n["localSheetId"] is None else "local"
        got[(n["name"].lower(), scope)] = xlsx_pkg.strip_own_sheet(n["text"], own_names)
        if n["localSheetId"] not in (None, "0"):
            rep.add("names", "%s has localSheetId %s in a one-sheet workbook" % (n["name"], n["localSheetId"]))
    for key, text in expected.items():
        if key not in got:
            rep.add("names", "%s name %s (%s) missing" % (key[1], key[0], text))
        elif got[key] != text:
            rep.add("names", "%s name %s: %s != %s" % (key[1], key[0], text, got[key]))
    for key, text in got.items():
        if key not in expected and key not in optional:
            rep.add("names", "%s name %s = %s is not the sheet's" % (key[1], key[0], text))
        elif key in optional and optional[key] != text:
            rep.add("names", "%s name %s: %s != %s" % (key[1], key[0], optional[key], text))


def theme_xml(pkg):
    wb = pkg.workbook()["part"]
    for rel in pkg.rels_of_kind(wb, "theme"):
        if rel.part and pkg.has(rel.part):
            return ET.canonicalize(pkg.read(rel.part).decode("utf-8"), strip_text=True)
    return None


INVENTORY_EXACT = ("pictures", "charts", "shapes", "groups", "connectors", "graphic_frames",
                   "comments", "threaded_comments", "tables", "hf_pictures", "vml_shapes", "background",
                   "controls", "ole_objects")


def compare_inventory(src, dst, rep):
    ia = xlsx_pkg.sheet_inventory(src.pkg, src.ws.title)
    ib = xlsx_pkg.sheet_inventory(dst.pkg, dst.ws.title)
    for key in INVENTORY_EXACT:
        if ia[key] != ib[key]:
            rep.add("parts", "%s: %d in the source, %d in the output" % (key, ia[key], ib[key]))
    ranges = [("hyperlinks", "hyperlinks_other_sheet"), ("cf_rules", None), ("cf_rules_ext", None),
              ("dv", None), ("dv_ext", None), ("sparklines", "sparklines_other_sheet")]
    drop_cf = ia["cf_rules_other_sheet"]
    drop_dv = ia["dv_other_sheet"]
    for key, other in ranges:
        may_drop = ia[other] if other else (drop_cf if key.startswith("cf") else drop_dv)
        if not ia[key] - may_drop <= ib[key] <= ia[key]:
            rep.add("parts", "%s: %d in the source (%d pointing elsewhere), %d in the output"
                    % (key, ia[key], may_drop, ib[key]))
    own_pivots = sum(1 for s in ia["pivot_sources"] if s.lower() == src.ws.title.lower())
    if not own_pivots <= ib["pivot_tables"] <= ia["pivot_tables"]:
        rep.add("parts", "pivot tables: %d in the source (%d on its own data), %d in the output"
                % (ia["pivot_tables"], own_pivots, ib["pivot_tables"]))
    if len(src.ws._charts) != len(dst.ws._charts):
        rep.add("parts", "openpyxl charts: %d != %d" % (len(src.ws._charts), len(dst.ws._charts)))
    if sorted(ia["table_names"]) != sorted(ib["table_names"]):
        rep.add("parts", "table names %s != %s (a clash may force a rename; check it is deliberate)"
                % (ia["table_names"], ib["table_names"]))
    if len(src.ws.tables) != len(dst.ws.tables):
        rep.add("parts", "openpyxl tables: %d != %d" % (len(src.ws.tables), len(dst.ws.tables)))


def compare_sheet(source, sheet, output, new_name=None, allow_value=(), limit=50):
    rep = Report(limit)
    src = Side(source, sheet)
    if src.ws is None:
        raise KeyError("%s has no worksheet %r (it has %s)" % (source, sheet, src.wb.sheetnames))
    dst = Side(output, None)
    expect = new_name or sheet
    all_sheets = dst.wb.sheetnames
    if len(all_sheets) != 1:
        rep.add("workbook", "output has %d sheets %s, expected one" % (len(all_sheets), all_sheets))
    if expect in dst.wb.sheetnames:
        dst.ws = dst.wb[expect]
    elif dst.wb.worksheets:
        dst.ws = dst.wb.worksheets[0]
        rep.add("workbook", "output sheet is named %r, expected %r" % (dst.ws.title, expect))
    else:
        rep.add("workbook", "output has no worksheet")
        return rep
    dst.vs = dst.values[dst.ws.title]
    if dst.ws.sheet_state != "visible":
        rep.add("workbook", "output sheet is %s" % dst.ws.sheet_state)
    if src.pkg.workbook()["date1904"] != dst.pkg.workbook()["date1904"]:
        rep.add("workbook", "date1904 %s != %s" % (src.pkg.workbook()["date1904"], dst.pkg.workbook()["date1904"]))
    if theme_xml(src.pkg) != theme_xml(dst.pkg):
        rep.add("workbook", "theme differs")
    own_names = {sheet, expect}
    compare_cells(src, dst, rep, own_names, allow_value)
    compare_rich_text(src, dst, rep)
    compare_layout(src, dst, rep)
    compare_rules(src, dst, rep)
    compare_names(src, dst, rep, own_names)
    compare_inventory(src, dst, rep)
    return rep


def main(argv=None):
    ap = argparse.ArgumentParser(usage=__doc__.split("How to run:")[1].split("\n\n")[0])
    ap.add_argument("source")
    ap.add_argument("sheet")
    ap.add_argument("output")
    ap.add_argument("--name", default=None)
    ap.add_argument("--allow-value", action="append", default=[])
    ap.add_argument("--max-diffs", type=int, default=50)
    a = ap.parse_args(argv)
    try:
        rep = compare_sheet(a.source, a.sheet, a.output, a.name, expand_ranges(a.allow_value), a.max_diffs)
    except Exception as exc:  # unreadable input: a tool error, not a difference
        print("compare_sheet: cannot compare: %s: %s" % (type(exc).__name__, exc), file=sys.stderr)
        return 2
    if rep.items:
        print("DIFF %s [%s] -> %s: %d differences" % (a.source, a.sheet, a.output, len(rep.items)))
        for line in rep.items[:a.max_diffs]:
            print("  " + line)
        if len(rep.items) > a.max_diffs:
            print("  ... %d more" % (len(rep.items) - a.max_diffs))
        return 1
    print("OK   %s [%s] -> %s" % (a.source, a.sheet, a.output))
    return 0


if __name__ == "__main__":
    sys.exit(main())
