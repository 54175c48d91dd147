#!/usr/bin/python3
"""Package integrity of split outputs, as strictly as Excel reads them.

How to run:
    /usr/bin/python3 tests/tools/check_package.py [--allow-macros] OUTPUT.xlsx [...]

Exit status: 0 every file passes; 1 some file breaks a rule (each problem is
printed under the file's name); 2 usage error.

Rules: the file is a ZIP with sound CRCs, no duplicate or unsafe entry names;
every XML part (and every .rels) is well-formed and has no DOCTYPE; the root
relationships name an existing workbook part of the .xlsx content type;
every internal relationship target exists; every relationship Id is unique
within its .rels file, and every r:id / r:embed / r:link / o:relid used in a
part names a relationship of that part; no part is unreferenced (except
[Content_Types].xml and .rels files) and no .rels file belongs to a missing
part; every part has a content type and no Override names a missing part;
sheet names, sheetIds and r:ids are unique; definedName localSheetIds and the
activeTab and firstSheet are in range, the active sheet is visible and at
least one sheet is visible; defined names are unique per scope; table ids and
names are unique across the package and do not clash with defined names;
cell style indexes are within cellXfs, shared-string indexes within the
table, and every shared string is used (the table must not leak strings of
other sheets); docProps/app.xml lists no sheet the workbook lacks; nothing
refers to a sheet the workbook lacks or to another file (cell formulas,
defined names, chart series, validations, conditional formats, sparklines,
hyperlink locations, pivot sources); no calcChain, externalLink or
vbaProject part travels in the output; rows ascend, and the cells of a row
ascend and sit in it; merged ranges are sound and do not overlap; a table has
one uniquely named column for each column of its range, and its filter lies
within it; and every count the styles, the shared strings and the document
properties declare is the number of entries that follow.
"""

import argparse
import posixpath
import re
import sys
import xml.parsers.expat
import xml.etree.ElementTree as ET
import zipfile

import xlsx_pkg
from xlsx_pkg import local

XLSX_MAIN = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"
XLSX_MAIN_OK = {XLSX_MAIN}
MACRO_MAINS = {"application/vnd.ms-excel.sheet.macroEnabled.main+xml",
               "application/vnd.ms-excel.template.macroEnabled.main+xml",
               "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml"}
FORBIDDEN = (("calcChain", "calculation chain"), ("externalLink", "external link"),
             ("vbaProject", "VBA project"))
EXPECTED_TYPES = {
    "officeDocument": ".main+xml", "worksheet": "spreadsheetml.worksheet+xml",
    "chartsheet": "spreadsheetml.chartsheet+xml", "styles": "spreadsheetml.styles+xml",
    "sharedStrings": "spreadsheetml.sharedStrings+xml", "theme": "theme+xml", "drawing": "drawing+xml",
    "chart": "drawingml.chart+xml", "comments": "spreadsheetml.comments+xml",
    "table": "spreadsheetml.table+xml", "vmlDrawing": "vmlDrawing", "image": "image/",
    "pivotTable": "pivotTable+xml", "pivotCacheDefinition": "pivotCacheDefinition+xml",
}
REL_ATTRS = {"id", "embed", "link", "pict", "dm", "lo", "qs", "cs", "href"}
BAD_SHEET_CHARS = set(':\\/?*[]')
CELL_RANGE = re.compile(r"\$?[A-Za-z]{1,3}\$?\d+(:\$?[A-Za-z]{1,3}\$?\d+)?")


# Faults of what an output writes anew whatever its source holds: its content types, its
# relationship targets and the counts of its styles, strings and properties. None of them is
# ever the source's to carry.
REWRITTEN = ("has no content type", "Override names missing part", "targets missing part", "> holds ")


def rewritten(problem):
    return any(words in problem for words in REWRITTEN)


def is_xml_part(name, ctype):
    lower = name.lower()
    return (lower.endswith((".xml", ".rels", ".vml")) or (ctype or "").endswith("+xml")
            or (ctype or "").endswith("/xml"))


def check(path, allow_macros=False):
    problems = []
    warn = []
    add = problems.append
    try:
        pkg = xlsx_pkg.Package(path)
    except (zipfile.BadZipFile, OSError) as exc:
        return ["not a ZIP package: %s" % exc], warn
    with pkg:
        infos = pkg.zip.infolist()
        seen = {}
        for info in infos:
            n = info.filename
            if n.startswith("/") or "\\" in n or ".." in n.split("/"):
                add("unsafe entry name %r" % n)
            if n.lower() in seen:
                add("duplicate entry %r (also %r)" % (n, seen[n.lower()]))
            seen[n.lower()] = n
        try:
            bad = pkg.zip.testzip()
            if bad:
                add("CRC or data error in entry %r" % bad)
        except Exception as exc:  # zlib errors surface here
            add("cannot inflate the package: %s" % exc)
            return problems, warn
        if not pkg.has("[Content_Types].xml"):
            add("no [Content_Types].xml")
            return problems, warn
        # Well-formedness first: later rules parse these parts.
        try:
            defaults, overrides = pkg.content_types()
        except Exception as exc:
            add("[Content_Types].xml unreadable: %s" % exc)
            return problems, warn
        broken = set()
        for name in pkg.names:
            ctype = overrides.get(name.lower()) or defaults.get(name.rsplit(".", 1)[-1].lower())
            if not is_xml_part(name, ctype):
                continue
            try:
                with pkg.zip.open(name) as stream:
                    xlsx_pkg.check_xml(stream)
            except xlsx_pkg.UnsafeXml as exc:
                add("%s: %s" % (name, exc))
                broken.add(name)
            except xml.parsers.expat.ExpatError as exc:
                if name.lower().endswith(".vml"):
                    warn.append("%s: VML not well-formed (%s); Excel tolerates this" % (name, exc))
                else:
                    add("%s: not well-formed XML: %s" % (name, exc))
                    broken.add(name)
        if "[Content_Types].xml" in broken or "_rels/.rels" in broken:
            return problems, warn

        # Content types.
        for name in pkg.names:
            if name == "[Content_Types].xml":
                continue
            ext = name.rsplit(".", 1)[-1].lower() if "." in posixpath.basename(name) else ""
            if name.lower() not in overrides and ext not in defaults:
                add("%s has no content type" % name)
        for over in overrides:
            if not pkg.has(over):
                add("Override names missing part /%s" % over)

        # Relationships: targets, ids, reachability.
        reachable = set()
        queue = [""]
        done = set()
        while queue:
            part = queue.pop()
            if part in done:
                continue
            done.add(part)
            rp = "_rels/.rels" if part == "" else xlsx_pkg.rels_path_of(part)
            if pkg.has(rp) and pkg.find(rp) in broken:
                continue
            try:
                rels = pkg.rels(part)
            except Exception as exc:
                add("%s unreadable: %s" % (rp, exc))
                continue
            ids = [r.id for r in rels]
            for rid in sorted(set(i for i in ids if ids.count(i) > 1)):
                add("%s: relationship Id %s used %d times" % (rp, rid, ids.count(rid)))
            for rel in rels:
                if rel.id is None:
                    add("%s: relationship without Id" % rp)
                if rel.external:
                    continue
                if rel.kind == "hyperlink" and rel.target.startswith("#"):
                    continue  # a location inside this workbook; check_references looks at it
                if not rel.part or not pkg.has(rel.part):
                    add("%s: %s (%s) targets missing part /%s" % (rp, rel.id, rel.kind, rel.part))
                    continue
                reachable.add(pkg.find(rel.part))
                queue.append(pkg.find(rel.part))
        for name in pkg.names:
            lower = name.lower()
            if name == "[Content_Types].xml" or lower.endswith(".rels"):
                if lower.endswith(".rels") and lower != "_rels/.rels":
                    folder, base = posixpath.split(name)
                    owner = posixpath.join(posixpath.dirname(folder), base[:-5])
                    if posixpath.basename(folder) != "_rels" or not pkg.has(owner):
                        add("%s belongs to no part" % name)
                continue
            if name not in reachable:
                add("part %s is not referenced by any relationship" % name)

        # r:id-style attributes must name a relationship of their own part.
        for name in sorted(reachable):
            if name in broken or not name.lower().endswith((".xml", ".vml")):
                continue
            ids = {r.id for r in pkg.rels(name)}
            data = pkg.read(name)
            if b"relationships" not in data and b"relid" not in data:
                continue
            try:
                root = ET.fromstring(data)
            except ET.ParseError:
                continue
            for el in root.iter():
                for key, value in el.attrib.items():
                    if not key.startswith("{"):
                        continue
                    ns, attr = key[1:].split("}", 1)
                    if (ns in (xlsx_pkg.NS_R, xlsx_pkg.NS_R_STRICT) and attr in REL_ATTRS) or \
                            (ns == xlsx_pkg.NS_OFFICE_VML and attr == "relid"):
                        if value and value not in ids:
                            add("%s: <%s %s=%r> names no relationship of the part"
                                % (name, local(el.tag), attr, value))

        if broken:
            add("further checks skipped: %d part(s) do not parse" % len(broken))
            return problems, warn

        # Forbidden parts.
        for name in pkg.names:
            ctype = (overrides.get(name.lower()) or defaults.get(name.rsplit(".", 1)[-1].lower()) or "")
            for word, what in FORBIDDEN:
                if word.lower() in name.lower() or word.lower() in ctype.lower():
                    if word == "vbaProject" and allow_macros:
                        continue
                    add("%s: a %s must not travel in an output" % (name, what))

        # A relationship's type and its target's content type must agree.
        for part in sorted(done):
            for rel in pkg.rels(part):
                want = EXPECTED_TYPES.get(rel.kind)
                if rel.external or not want or not rel.part or not pkg.has(rel.part):
                    continue
                got = pkg.content_type(pkg.find(rel.part)) or ""
                if want not in got:
                    add("%s -> /%s: a %s relationship to content type %r" % (part or "package", rel.part,
                                                                              rel.kind, got))

        wb_part = pkg.workbook_part()
        if not wb_part or not pkg.has(wb_part):
            add("the root relationships name no workbook part")
            return problems, warn
        wb_type = pkg.content_type(wb_part)
        if wb_type not in XLSX_MAIN_OK and not (allow_macros and wb_type in MACRO_MAINS):
            add("workbook part %s has content type %s, not the .xlsx one" % (wb_part, wb_type))
        problems += check_workbook(pkg, wb_part)
    return problems, warn


def check_workbook(pkg, wb_part):
    problems = []
    add = problems.append
    wb = pkg.workbook()
    sheets = wb["sheets"]
    root = pkg.xml(wb_part)
    if not sheets:
        add("workbook has no sheets")
        return problems
    names_lower = [s["name"].lower() for s in sheets if s["name"]]
    for s in sheets:
        n = s["name"] or ""
        if not 1 <= len(n) <= 31 or set(n) & BAD_SHEET_CHARS or n.startswith("'") or n.endswith("'"):
            add("invalid sheet name %r" % n)
        if names_lower.count(n.lower()) > 1:
            add("sheet name %r is not unique" % n)
        if not s["part"] or not pkg.has(s["part"]):
            add("sheet %r has no part (r:id %s)" % (n, s["rid"]))
        elif s["kind"] not in ("worksheet", "chartsheet", "dialogsheet", "xlMacrosheet", "xlIntlMacrosheet"):
            add("sheet %r relationship is of type %s" % (n, s["kind"]))
    for key in ("sheetId", "rid"):
        vals = [s[key] for s in sheets]
        for v in sorted(set(x for x in vals if vals.count(x) > 1), key=str):
            add("%s %s used by more than one sheet" % (key, v))
    visible = [i for i, s in enumerate(sheets) if s["state"] == "visible"]
    if not visible:
        add("no visible sheet")
    for el in root.iter():
        if local(el.tag) == "workbookView":
            for attr in ("activeTab", "firstSheet"):
                v = int(el.get(attr, "0"))
                if not 0 <= v < len(sheets):
                    add("%s %d out of range (%d sheets)" % (attr, v, len(sheets)))
                elif attr == "activeTab" and sheets[v]["state"] != "visible":
                    add("activeTab %d names hidden sheet %r" % (v, sheets[v]["name"]))
    seen = set()
    for n in wb["names"]:
        lid = n["localSheetId"]
        if lid is not None and not (lid.isdigit() and int(lid) < len(sheets)):
            add("definedName %s has localSheetId %s (%d sheets)" % (n["name"], lid, len(sheets)))
        key = (n["name"].lower(), lid)
        if key in seen:
            add("definedName %s defined twice in one scope" % n["name"])
        seen.add(key)

    # Tables: ids and names unique; no clash with defined names.
    ids, tnames = {}, {}
    defined = {n["name"].lower() for n in wb["names"]}
    for name in pkg.names:
        ctype = pkg.content_type(name) or ""
        if ctype.endswith("spreadsheetml.table+xml"):
            t = pkg.xml(name)
            tid = t.get("id")
            if tid in ids:
                add("table id %s used by %s and %s" % (tid, ids[tid], name))
            ids[tid] = name
            for key in ("name", "displayName"):
                v = (t.get(key) or "").lower()
                if v and v in tnames and tnames[v] != name:
                    add("table %s %r used by %s and %s" % (key, t.get(key), tnames[v], name))
                tnames.setdefault(v, name)
            if (t.get("displayName") or "").lower() in defined:
                add("table %r clashes with a defined name" % t.get("displayName"))

    problems += check_cells(pkg, wb_part, sheets)
    problems += check_tables(pkg, sheets)
    problems += check_counts(pkg, wb_part)
    problems += check_references(pkg, wb, sheets)
    problems += check_app_props(pkg, sheets)
    return problems


def check_cells(pkg, wb_part, sheets):
    """Style and shared-string indexes in range; every shared string used."""
    problems = []
    n_xf = None
    n_dxf = 0
    for rel in pkg.rels_of_kind(wb_part, "styles"):
        if rel.part and pkg.has(rel.part):
            st = pkg.xml(rel.part)
            counts = {local(el.tag): len(list(el)) for el in st}
            n_xf = counts.get("cellXfs")
            n_dxf = counts.get("dxfs", 0)
            numfmts = {c.get("numFmtId") for el in st if local(el.tag) == "numFmts" for c in el}
            for group in ("cellXfs", "cellStyleXfs"):
                for i, xf in enumerate(next((list(el) for el in st if local(el.tag) == group), [])):
                    for attr, table in (("fontId", "fonts"), ("fillId", "fills"), ("borderId", "borders"),
                                        ("xfId", "cellStyleXfs")):
                        v = xf.get(attr)
                        if v is None or (attr == "xfId" and group == "cellStyleXfs"):
                            continue
                        if not v.isdigit() or int(v) >= counts.get(table, 0):
                            problems.append("styles: %s[%d] %s=%s beyond %s (%d)"
                                            % (group, i, attr, v, table, counts.get(table, 0)))
                    nf = xf.get("numFmtId")
                    if nf and nf.isdigit() and int(nf) >= 164 and nf not in numfmts:
                        problems.append("styles: %s[%d] numFmtId=%s is not defined" % (group, i, nf))
            for el in st:
                if local(el.tag) == "cellStyles":
                    for cs in el:
                        v = cs.get("xfId")
                        if v is not None and (not v.isdigit() or int(v) >= counts.get("cellStyleXfs", 0)):
                            problems.append("styles: cell style %r xfId=%s beyond cellStyleXfs"
                                            % (cs.get("name"), v))
    wb_root = pkg.xml(wb_part)
    n_views = sum(1 for el in wb_root.iter() if local(el.tag) == "workbookView") or 1
    cache_ids = {el.get("cacheId") for el in wb_root.iter() if local(el.tag) == "pivotCache"}
    for name in pkg.names:
        if (pkg.content_type(name) or "").endswith("pivotTable+xml"):
            cid = pkg.xml(name).get("cacheId")
            if cid not in cache_ids:
                problems.append("%s: cacheId %s is not among the workbook's pivot caches %s"
                                % (name, cid, sorted(cache_ids, key=str)))
    n_sst = 0
    ss_rels = pkg.rels_of_kind(wb_part, "sharedStrings")
    if ss_rels and ss_rels[0].part and pkg.has(ss_rels[0].part):
        with pkg.open(ss_rels[0].part) as stream:
            for _, el in ET.iterparse(stream):
                if local(el.tag) == "si":
                    n_sst += 1
                    el.clear()
    used = set()
    for s in sheets:
        if s["kind"] != "worksheet" or not s["part"] or not pkg.has(s["part"]):
            continue
        bad_s = bad_v = bad_dxf = 0
        first = {}
        order = RowOrder(s["name"])
        with pkg.open(s["part"]) as stream:
            for _, el in ET.iterparse(stream):
                tag = local(el.tag)
                if tag == "c":
                    order.cell(el.get("r"))
                    st = el.get("s")
                    if st is not None and n_xf is not None and not (st.isdigit() and int(st) < n_xf):
                        bad_s += 1
                        first.setdefault("s", el.get("r"))
                    if el.get("t") == "s":
                        v = next((c.text for c in el if local(c.tag) == "v"), None)
                        if v is None:
                            pass  # a string cell without a value is just empty
                        elif not v.strip().isdigit() or int(v) >= n_sst:
                            bad_v += 1
                            first.setdefault("v", el.get("r"))
                        else:
                            used.add(int(v))
                    el.clear()
                elif tag == "row":
                    order.row(el.get("r"))
                    st = el.get("s")
                    if st is not None and n_xf is not None and not (st.isdigit() and int(st) < n_xf):
                        bad_s += 1
                        first.setdefault("s", "row %s" % el.get("r"))
                    el.clear()
                elif tag == "sheetView":
                    v = el.get("workbookViewId", "0")
                    if not v.isdigit() or int(v) >= n_views:
                        problems.append("sheet %r: sheetView workbookViewId %s but %d workbook view(s)"
                                        % (s["name"], v, n_views))
                elif tag == "cfRule" and el.get("dxfId") is not None:
                    if not el.get("dxfId").isdigit() or int(el.get("dxfId")) >= n_dxf:
                        bad_dxf += 1
                elif tag == "mergeCell":
                    order.merge(el.get("ref"))
        problems += order.problems()
        if bad_s:
            problems.append("sheet %r: %d style indexes beyond cellXfs (%d), first at %s"
                            % (s["name"], bad_s, n_xf, first["s"]))
        if bad_v:
            problems.append("sheet %r: %d shared-string indexes beyond the table (%d), first at %s"
                            % (s["name"], bad_v, n_sst, first["v"]))
        if bad_dxf:
            problems.append("sheet %r: %d conditional formats name a dxfId beyond dxfs (%d)"
                            % (s["name"], bad_dxf, n_dxf))
    unused = n_sst - len(used)
    if unused > 0:
        sample = sorted(set(range(n_sst)) - used)[:5]
        problems.append("%d of %d shared strings are used by no cell (e.g. indexes %s)"
                        % (unused, n_sst, sample))
    return problems


CELL = re.compile(r"\$?([A-Za-z]{1,3})\$?(\d{1,7})")


def cell_position(ref):
    """(column, row) from 1 of a cell reference such as "B7", or None."""
    m = CELL.fullmatch(ref or "")
    if not m:
        return None
    column = 0
    for ch in m.group(1).upper():
        column = column * 26 + ord(ch) - 64
    row = int(m.group(2))
    return (column, row) if 1 <= column <= 16384 and 1 <= row <= 1048576 else None


def range_box(ref):
    """(first column, first row, last column, last row) of "A1:C3" or "B2", or None."""
    ends = [cell_position(p) for p in (ref or "").split(":")]
    if not 1 <= len(ends) <= 2 or None in ends:
        return None
    a, b = ends[0], ends[-1]
    if b[0] < a[0] or b[1] < a[1]:
        return None
    return a[0], a[1], b[0], b[1]


class RowOrder:
    """Rows ascending, each row's cells ascending and in it; merged ranges apart."""

    def __init__(self, sheet):
        self.sheet = sheet
        self.found = []
        self.last_row = 0
        self.cells = []
        self.merges = []

    def cell(self, ref):
        if ref is not None:
            self.cells.append(ref)

    def row(self, ref):
        number = int(ref) if ref and ref.isdigit() else None
        if number is not None:
            if number <= self.last_row:
                self.add("row %d follows row %d" % (number, self.last_row))
            self.last_row = number
        column = 0
        for ref in self.cells:
            where = cell_position(ref)
            if where is None:
                self.add("cell reference %r is not a cell" % ref)
                continue
            if number is not None and where[1] != number:
                self.add("cell %s is written in row %d" % (ref, number))
            if where[0] <= column:
                self.add("cell %s is out of order in its row" % ref)
            column = where[0]
        self.cells = []

    def merge(self, ref):
        box = range_box(ref)
        if box is None:
            self.add("merged range %r is not a range" % ref)
        else:
            self.merges.append((box, ref))

    def add(self, text):
        if len(self.found) < 5:
            self.found.append("sheet %r: %s" % (self.sheet, text))

    def problems(self):
        active = []
        for box, ref in sorted(self.merges, key=lambda m: (m[0][1], m[0][0])):
            active = [(b, r) for b, r in active if b[3] >= box[1]]
            for other, other_ref in active:
                if other[0] <= box[2] and box[0] <= other[2]:
                    self.add("merged ranges %s and %s overlap" % (other_ref, ref))
            active.append((box, ref))
        return self.found


def check_tables(pkg, sheets):
    """One uniquely named column per column of a table's range; its filter within it."""
    problems = []
    for s in sheets:
        if s["kind"] != "worksheet" or not s["part"] or not pkg.has(s["part"]):
            continue
        for rel in pkg.rels_of_kind(s["part"], "table"):
            if not rel.part or not pkg.has(rel.part):
                continue
            table = pkg.xml(rel.part)
            box = range_box(table.get("ref"))
            if box is None:
                problems.append("%s: table range %r is not a range" % (rel.part, table.get("ref")))
                continue
            columns = next((el for el in table if local(el.tag) == "tableColumns"), None)
            names = [c.get("name", "") for c in columns] if columns is not None else []
            if len(names) != box[2] - box[0] + 1:
                problems.append("%s: %d columns for the %d of range %s"
                                % (rel.part, len(names), box[2] - box[0] + 1, table.get("ref")))
            folded = [n.lower() for n in names]
            if "" in folded or len(set(folded)) != len(folded):
                problems.append("%s: column names are empty or repeated: %s" % (rel.part, names))
            ids = [c.get("id") for c in columns] if columns is not None else []
            if len(set(ids)) != len(ids):
                problems.append("%s: column ids repeated: %s" % (rel.part, ids))
            for el in table:
                if local(el.tag) == "autoFilter":
                    inner = range_box(el.get("ref"))
                    if inner is None or not (box[0] <= inner[0] and inner[2] <= box[2] and box[1] <= inner[1]
                                             and inner[3] <= box[3]):
                        problems.append("%s: filter %s is not within the table %s"
                                        % (rel.part, el.get("ref"), table.get("ref")))
    return problems


def check_counts(pkg, wb_part):
    """The counts the output declares (styles, shared strings, document properties) are right."""
    problems = []

    def declared(part, root, attr, number):
        value = root.get(attr)
        if value is not None and value != str(number):
            problems.append("%s: <%s %s=%s> holds %d" % (part, local(root.tag), attr, value, number))

    for rel in pkg.rels_of_kind(wb_part, "styles"):
        if rel.part and pkg.has(rel.part):
            for el in pkg.xml(rel.part).iter():
                if el.get("count") is not None and local(el.tag) != "styleSheet":
                    declared(rel.part, el, "count", len(el))
    for rel in pkg.rels_of_kind(wb_part, "sharedStrings"):
        if rel.part and pkg.has(rel.part):
            with pkg.open(rel.part) as stream:
                events = ET.iterparse(stream, events=("start", "end"))
                _, root = next(events)
                items = 0
                for event, el in events:
                    if event == "end" and local(el.tag) == "si":
                        items += 1
                        el.clear()
            declared(rel.part, root, "uniqueCount", items)
    for rel in pkg.rels(""):
        if rel.kind == "extended-properties" and rel.part and pkg.has(rel.part):
            for el in pkg.xml(rel.part).iter():
                if local(el.tag) == "vector":
                    declared(rel.part, el, "size", len(el))
    return problems


def check_references(pkg, wb, sheets):
    """Nothing may point at a sheet the workbook lacks, or at another file."""
    problems = []
    known = {s["name"].lower() for s in sheets}
    name_scope = {}
    for n in wb["names"]:
        name_scope.setdefault(n["name"].lower(), True)

    def bad_refs(text):
        found, external, _, _ = xlsx_pkg.formula_refs(text)
        missing = sorted(s for s in found if s.lower() not in known)
        return missing, external

    def report(where, text):
        if not text:
            return
        missing, external = bad_refs(text)
        if external:
            problems.append("%s refers to another file: %s" % (where, text[:120]))
        if missing:
            problems.append("%s refers to missing sheet(s) %s: %s" % (where, missing, text[:120]))

    for n in wb["names"]:
        report("definedName %s" % n["name"], n["text"])
    for name in pkg.names:
        if name.lower().endswith(".rels"):
            continue
        for rel in pkg.rels(name):
            if rel.kind == "hyperlink" and not rel.external and rel.target.startswith("#"):
                loc = rel.target[1:]
                if "!" in loc:
                    report("%s hyperlink relationship %s" % (name, rel.id), loc)
    for name in pkg.names:
        ctype = pkg.content_type(name) or ""
        if ctype.endswith(".worksheet+xml") or ctype.endswith("drawingml.chart+xml") or \
                ctype.endswith("pivotCacheDefinition+xml") or "chartsheet" in ctype:
            with pkg.open(name) as stream:
                for _, el in ET.iterparse(stream):
                    tag = local(el.tag)
                    if tag in ("f", "formula", "formula1", "formula2"):
                        report("%s <%s>" % (name, tag), el.text)
                    elif tag == "hyperlink" and el.get("location"):
                        loc = el.get("location")
                        if "!" in loc:
                            report("%s hyperlink" % name, loc)
                        elif not CELL_RANGE.fullmatch(loc) and loc.lower() not in name_scope:
                            problems.append("%s: hyperlink to %r, which is neither a cell nor a name"
                                            % (name, loc))
                    elif tag == "worksheetSource" and el.get("sheet"):
                        if el.get("sheet").lower() not in known:
                            problems.append("%s: pivot source on missing sheet %r" % (name, el.get("sheet")))
                        if any(k.endswith("}id") for k in el.attrib):
                            problems.append("%s: pivot source in another file" % name)
                    if tag in ("c", "row"):
                        el.clear()
    return problems


def check_app_props(pkg, sheets):
    problems = []
    rel = next((r for r in pkg.rels("") if r.kind == "extended-properties"), None)
    if not rel or not rel.part or not pkg.has(rel.part):
        return problems
    root = pkg.xml(rel.part)
    titles = None
    for el in root:
        if local(el.tag) == "TitlesOfParts":
            titles = [t.text or "" for t in el.iter() if local(t.tag) == "lpstr"]
    if titles is None:
        return problems
    known = {s["name"] for s in sheets}
    for t in titles:
        if t in known:
            continue
        if "!" in t:
            sheet = t.rsplit("!", 1)[0].strip("'").replace("''", "'")
            if sheet in known:
                continue
            problems.append("docProps/app.xml lists %r of a sheet the workbook lacks" % t)
        elif not any(n["name"] == t for n in pkg.workbook()["names"]):
            problems.append("docProps/app.xml lists %r, which the workbook lacks" % t)
    return problems


def main(argv=None):
    ap = argparse.ArgumentParser(usage=__doc__.split("How to run:")[1].split("\n\n")[0])
    ap.add_argument("files", nargs="+")
    ap.add_argument("--allow-macros", action="store_true",
                    help="accept macro-enabled workbooks and their VBA project")
    a = ap.parse_args(argv)
    failed = False
    for path in a.files:
        try:
            problems, warnings = check(path, a.allow_macros)
        except Exception as exc:  # a crash in a rule is still a failed file
            problems, warnings = ["checker failed: %s: %s" % (type(exc).__name__, exc)], []
        if problems:
            failed = True
            print("FAIL %s: %d problem(s)" % (path, len(problems)))
            for p in problems:
                print("  " + p)
        else:
            print("OK   %s" % path)
        for w in warnings:
            print("  warning: " + w)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
