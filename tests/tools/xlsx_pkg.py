"""Shared package helpers for the checking tools (not a tool itself).

Reads an .xlsx package with the standard library only: content types,
relationships, the workbook's sheet list, streaming cell scans and an
inventory of what hangs off one worksheet. Every tool in this folder imports
it; run the tools with /usr/bin/python3 (Debian's, which has openpyxl).
"""

import posixpath
import re
import zipfile
import xml.parsers.expat
import xml.etree.ElementTree as ET

NS_MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
NS_R = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
NS_R_STRICT = "http://purl.oclc.org/ooxml/officeDocument/relationships"
NS_PKG_REL = "http://schemas.openxmlformats.org/package/2006/relationships"
NS_CT = "http://schemas.openxmlformats.org/package/2006/content-types"
NS_OFFICE_VML = "urn:schemas-microsoft-com:office:office"

REL_OFFICE_DOCUMENT = "/officeDocument"


def local(tag):
    """Local name of an ElementTree tag, so transitional and strict files read alike."""
    return tag.rsplit("}", 1)[-1] if tag.startswith("{") else tag


def rel_kind(rel_type):
    """Last path segment of a relationship type: 'worksheet', 'drawing', ..."""
    return rel_type.rstrip("/").rsplit("/", 1)[-1]


class UnsafeXml(Exception):
    pass


def check_xml(stream_or_bytes):
    """Parse with expat only to prove well-formedness; refuse any DOCTYPE.

    Raises UnsafeXml for a DOCTYPE and xml.parsers.expat.ExpatError when the
    part is not well-formed. Streams, so big sheet parts cost no memory.
    """
    parser = xml.parsers.expat.ParserCreate(namespace_separator=" ")

    def doctype(*_):
        raise UnsafeXml("DOCTYPE declaration")

    parser.StartDoctypeDeclHandler = doctype
    parser.EntityDeclHandler = doctype
    if isinstance(stream_or_bytes, (bytes, bytearray)):
        parser.Parse(stream_or_bytes, True)
    else:
        while True:
            chunk = stream_or_bytes.read(1 << 20)
            if not chunk:
                break
            parser.Parse(chunk, False)
        parser.Parse(b"", True)


def parse_xml(data):
    """ElementTree root of a small part; refuses DOCTYPEs first."""
    check_xml(data)
    return ET.fromstring(data)


class Rel:
    __slots__ = ("id", "type", "target", "external", "part")

    def __init__(self, rid, rtype, target, external, part):
        self.id, self.type, self.target, self.external, self.part = rid, rtype, target, external, part

    @property
    def kind(self):
        return rel_kind(self.type)

    def __repr__(self):
        return "Rel(%s %s -> %s)" % (self.id, self.kind, self.part or self.target)


def rels_path_of(part):
    """The relationships part that belongs to `part` ('' is the package root)."""
    folder, name = posixpath.split(part)
    return posixpath.join(folder, "_rels", name + ".rels")


def resolve_target(source_part, target):
    """Part name (no leading '/') that a relative or absolute internal target names."""
    target = target.split("#", 1)[0]
    from urllib.parse import unquote
    target = unquote(target)
    if target.startswith("/"):
        path = target[1:]
    else:
        path = posixpath.join(posixpath.dirname(source_part), target)
    path = posixpath.normpath(path)
    return "" if path == "." else path


class Package:
    """An opened .xlsx package. Part names carry no leading '/'."""

    def __init__(self, path):
        self.path = path
        self.zip = zipfile.ZipFile(path)
        self.names = [i.filename for i in self.zip.infolist() if not i.filename.endswith("/")]
        self.by_lower = {}
        for name in self.names:
            self.by_lower.setdefault(name.lower(), name)
        self._rels_cache = {}
        self._workbook = None

    def close(self):
        self.zip.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def find(self, part):
        """Actual stored name of a part (OPC names are case-insensitive), or None."""
        if part in self.by_lower.values():
            return part
        return self.by_lower.get(part.lower())

    def has(self, part):
        return self.find(part) is not None

    def read(self, part):
        return self.zip.read(self.find(part))

    def open(self, part):
        return self.zip.open(self.find(part))

    def xml(self, part):
        return parse_xml(self.read(part))

    def rels(self, part):
        """Relationships of `part` ('' for the package root), [] when it has none."""
        if part in self._rels_cache:
            return self._rels_cache[part]
        rp = "_rels/.rels" if part == "" else rels_path_of(part)
        result = []
        if self.has(rp):
            root = self.xml(rp)
            for el in root:
                if local(el.tag) != "Relationship":
                    continue
                external = el.get("TargetMode") == "External"
                target = el.get("Target", "")
                resolved = None if external else resolve_target(part, target)
                result.append(Rel(el.get("Id"), el.get("Type", ""), target, external, resolved))
        self._rels_cache[part] = result
        return result

    def rel_by_id(self, part, rid):
        for rel in self.rels(part):
            if rel.id == rid:
                return rel
        return None

    def rels_of_kind(self, part, kind):
        return [r for r in self.rels(part) if r.kind == kind]

    def workbook_part(self):
        for rel in self.rels(""):
            if rel.type.endswith(REL_OFFICE_DOCUMENT) and not rel.external:
                return rel.part
        return None

    def content_types(self):
        """(defaults by lower-case extension, overrides by lower-case part name)."""
        root = self.xml("[Content_Types].xml")
        defaults, overrides = {}, {}
        for el in root:
            if local(el.tag) == "Default":
                defaults[el.get("Extension", "").lower()] = el.get("ContentType", "")
            elif local(el.tag) == "Override":
                overrides[el.get("PartName", "").lstrip("/").lower()] = el.get("ContentType", "")
        return defaults, overrides

    def content_type(self, part):
        defaults, overrides = self.content_types()
        if part.lower() in overrides:
            return overrides[part.lower()]
        ext = part.rsplit(".", 1)[-1].lower() if "." in posixpath.basename(part) else ""
        return defaults.get(ext)

    def workbook(self):
        """Sheets (in order) and defined names of the workbook part."""
        if self._workbook is not None:
            return self._workbook
        wb_part = self.workbook_part()
        root = self.xml(wb_part)
        sheets, names = [], []
        date1904 = full_calc = False
        for el in root.iter():
            tag = local(el.tag)
            if tag == "sheet":
                rid = el.get("{%s}id" % NS_R) or el.get("{%s}id" % NS_R_STRICT)
                rel = self.rel_by_id(wb_part, rid) if rid else None
                sheets.append({
                    "name": el.get("name"),
                    "sheetId": el.get("sheetId"),
                    "rid": rid,
                    "state": el.get("state", "visible"),
                    "part": rel.part if rel and not rel.external else None,
                    "kind": rel.kind if rel else None,
                })
            elif tag == "definedName":
                names.append({
                    "name": el.get("name"),
                    "localSheetId": el.get("localSheetId"),
                    "hidden": el.get("hidden"),
                    "text": el.text or "",
                })
            elif tag == "workbookPr":
                date1904 = el.get("date1904") in ("1", "true")
            elif tag == "calcPr":
                full_calc = el.get("fullCalcOnLoad") in ("1", "true")
        self._workbook = {"part": wb_part, "sheets": sheets, "names": names, "date1904": date1904,
                          "full_calc_on_load": full_calc}
        return self._workbook

    def sheet(self, name):
        for sheet in self.workbook()["sheets"]:
            if sheet["name"] == name:
                return sheet
        for sheet in self.workbook()["sheets"]:
            if sheet["name"].lower() == name.lower():
                return sheet
        return None

    def table_sheets(self):
        """{table name (lower): sheet name} over every worksheet of the workbook."""
        result = {}
        for sheet in self.workbook()["sheets"]:
            if not sheet["part"] or not self.has(sheet["part"]):
                continue
            for rel in self.rels_of_kind(sheet["part"], "table"):
                if rel.part and self.has(rel.part):
                    root = self.xml(rel.part)
                    for key in ("name", "displayName"):
                        if root.get(key):
                            result[root.get(key).lower()] = sheet["name"]
        return result


def asks_full_calc(path):
    """Whether the workbook at path asks to be calculated in full on opening (fullCalcOnLoad):
    a spreadsheet application shows it recalculated, whatever results it stores. False for
    a file that is not a readable package."""
    try:
        with Package(path) as pkg:
            return pkg.workbook()["full_calc_on_load"]
    except Exception:  # not a package this reader knows: LibreOffice loads it as it will
        return False


# ---------------------------------------------------------------------------
# Formula references

_STRING_LIT = re.compile(r'"(?:[^"]|"")*"')
_QUOTED_SHEET = re.compile(r"'((?:[^']|'')+)'!")
_EXTERNAL = re.compile(r"\[[^\]]*\]")
# An unquoted sheet (or 3-D range of sheets) before '!'.
_PLAIN_SHEET = re.compile(r"(?<![\w.#'\]])([^\W\d][\w.]*(?::[^\W\d][\w.]*)?)!")
_IDENT = re.compile(r"(?<![\w.!$'\]\\])([A-Za-z_\\][\w.\\]*)(?![\w.(!])")
_CELL = re.compile(r"\$?[A-Za-z]{1,3}\$?\d+")
_TABLE_REF = re.compile(r"(?<![\w.!$'\]])([A-Za-z_\\][\w.\\]*)\[")


def formula_refs(formula):
    """What a formula text points at outside its own cells.

    Returns (sheets, external, identifiers, tables): sheet names named before
    '!' (3-D ranges give both ends), whether a [n] external reference occurs,
    bare identifiers (candidate defined names) and table names used by
    structured references. String literals are ignored.
    """
    text = formula or ""
    if text.startswith("="):
        text = text[1:]
    text = _STRING_LIT.sub('""', text)
    sheets, idents, tables = set(), set(), set()
    external = False
    for m in _QUOTED_SHEET.finditer(text):
        name = m.group(1).replace("''", "'")
        if _EXTERNAL.match(name):
            external = True
            name = _EXTERNAL.sub("", name, count=1)
        for part in name.split(":"):
            sheets.add(part)
    stripped = _QUOTED_SHEET.sub("Q!", text)
    if re.search(r"\[\d+\]", stripped):
        external = True
    stripped_ext = re.sub(r"\[\d+\]", "", stripped)
    for m in _PLAIN_SHEET.finditer(stripped_ext):
        if m.group(1) == "Q":
            continue
        for part in m.group(1).split(":"):
            # In "A1:Sheet1!B2" the first part is a cell, not a 3-D range's sheet.
            if not _CELL.fullmatch(part):
                sheets.add(part)
    for m in _TABLE_REF.finditer(stripped_ext):
        tables.add(m.group(1))
    no_struct = re.sub(r"\[(?:[^\[\]]|\[[^\]]*\])*\]", "", stripped_ext)
    no_sheet = _PLAIN_SHEET.sub("", _QUOTED_SHEET.sub("", no_struct))
    for m in _IDENT.finditer(no_sheet):
        word = m.group(1)
        if re.fullmatch(r"\$?[A-Za-z]{1,3}\$?\d+", word) or word.upper() in ("TRUE", "FALSE"):
            continue
        if re.fullmatch(r"[A-Za-z]{1,3}", word) or re.fullmatch(r"R\d*C\d*", word.upper()):
            continue
        idents.add(word)
    return sheets, external, idents, tables


def strip_own_sheet(formula, own_names):
    """Drop qualifiers naming the sheet itself ('Own'!A1 -> A1), for comparing formulas."""
    if not formula:
        return formula
    out = formula
    for name in own_names:
        if not name:
            continue
        quoted = "'" + name.replace("'", "''") + "'!"
        out = re.sub(re.escape(quoted), "", out, flags=re.IGNORECASE)
        if re.fullmatch(r"[^\W\d][\w.]*", name):
            out = re.sub(r"(?<![\w.'\]])" + re.escape(name) + "!", "", out, flags=re.IGNORECASE)
    return out


# ---------------------------------------------------------------------------
# Streaming scans of one worksheet part

class CellPos:
    """Reference of each <c> in a streamed sheet, also where 'r' attributes are left out."""

    def __init__(self):
        self.row = 0
        self.col = 0

    def start_row(self, el):
        r = el.get("r")
        self.row = int(r) if r and r.isdigit() else self.row + 1
        self.col = 0

    def start_cell(self, el):
        r = el.get("r")
        if r:
            letters = "".join(ch for ch in r if ch.isalpha()).upper()
            col = 0
            for ch in letters:
                col = col * 26 + ord(ch) - 64
            self.col = col
            digits = "".join(ch for ch in r if ch.isdigit())
            if digits:
                self.row = int(digits)
            return r
        self.col += 1
        name, col = "", self.col
        while col:
            col, rem = divmod(col - 1, 26)
            name = chr(65 + rem) + name
        return "%s%d" % (name, self.row)


VOLATILE = re.compile(r"\b(NOW|TODAY|RAND|RANDBETWEEN|RANDARRAY)\s*\(", re.IGNORECASE)


def scan_formulas(pkg, sheet_part):
    """Yield (ref, formula text or None for shared children, shared flags, has cached value).

    Shared-formula children inherit their master's text through `si`, so a
    caller can classify every cell of a shared block.
    """
    shared = {}
    ref = None
    f_el = None
    has_v = False
    pos = CellPos()
    with pkg.open(sheet_part) as stream:
        for event, el in ET.iterparse(stream, events=("start", "end")):
            tag = local(el.tag)
            if event == "start":
                if tag == "c":
                    ref, f_el, has_v = pos.start_cell(el), None, False
                elif tag == "row":
                    pos.start_row(el)
                continue
            if tag == "f":
                f_el = (el.text, el.get("t"), el.get("si"))
            elif tag == "v":
                has_v = el.text is not None
            elif tag == "c":
                if f_el is not None:
                    text, ftype, si = f_el
                    if ftype == "shared" and si is not None:
                        if text:
                            shared[si] = text
                        else:
                            text = shared.get(si)
                    yield ref, text, has_v
                el.clear()
            elif tag in ("row", "sheetData"):
                el.clear()


def canonical(el):
    """Hashable form of an element tree: local tags, attributes, text."""
    return (local(el.tag), tuple(sorted((local(k), v) for k, v in el.attrib.items())),
            (el.text or ""), tuple(canonical(c) for c in el))


def scan_string_cells(pkg, sheet_part, shared_strings):
    """{ref: canonical rich content} for every string cell (shared or inline)."""
    result = {}
    pos = CellPos()
    with pkg.open(sheet_part) as stream:
        cell_ref, cell_t = None, None
        for event, el in ET.iterparse(stream, events=("start", "end")):
            tag = local(el.tag)
            if event == "start":
                if tag == "c":
                    cell_ref, cell_t = pos.start_cell(el), el.get("t")
                elif tag == "row":
                    pos.start_row(el)
                continue
            if tag == "c":
                if cell_t == "s":
                    v = next((c for c in el if local(c.tag) == "v"), None)
                    if v is not None and v.text is not None:
                        try:
                            result[cell_ref] = shared_strings[int(v.text)]
                        except (ValueError, IndexError):
                            result[cell_ref] = ("<bad shared string index %s>" % v.text,)
                elif cell_t == "inlineStr":
                    is_el = next((c for c in el if local(c.tag) == "is"), None)
                    if is_el is not None:
                        result[cell_ref] = tuple(canonical(c) for c in is_el)
                el.clear()
            elif tag in ("row", "sheetData"):
                el.clear()
    return result


def shared_strings(pkg):
    """Canonical content of each <si> of the shared-string table, by index."""
    wb_part = pkg.workbook()["part"]
    rels = pkg.rels_of_kind(wb_part, "sharedStrings")
    if not rels or not pkg.has(rels[0].part):
        return []
    out = []
    with pkg.open(rels[0].part) as stream:
        for event, el in ET.iterparse(stream, events=("end",)):
            if local(el.tag) == "si":
                out.append(tuple(canonical(c) for c in el))
                el.clear()
    return out


# ---------------------------------------------------------------------------
# What hangs off one worksheet

def sheet_inventory(pkg, sheet_name):
    """Counts of what one worksheet carries, read straight from the package.

    Keys: pictures, charts, shapes, groups, connectors, graphic_frames,
    comments, threaded_comments, tables, table_names, pivot_tables,
    pivot_sources, hyperlinks, hyperlinks_other_sheet, cf_rules, cf_rules_ext,
    cf_rules_other_sheet, dv, dv_ext, dv_other_sheet, sparklines,
    sparklines_other_sheet, hf_pictures, vml_shapes (notes and form buttons), background,
    controls, ole_objects.
    """
    wb = pkg.workbook()
    sheet = pkg.sheet(sheet_name)
    if sheet is None or not sheet["part"] or not pkg.has(sheet["part"]):
        raise KeyError("no worksheet part for sheet %r" % sheet_name)
    part = sheet["part"]
    own = {sheet["name"].lower()}
    names_other = _names_pointing_elsewhere(wb, sheet)
    inv = dict.fromkeys((
        "pictures", "charts", "shapes", "groups", "connectors", "graphic_frames", "comments",
        "threaded_comments", "tables", "pivot_tables", "hyperlinks", "hyperlinks_other_sheet",
        "cf_rules", "cf_rules_ext", "cf_rules_other_sheet", "dv", "dv_ext", "dv_other_sheet",
        "sparklines", "sparklines_other_sheet", "hf_pictures", "background", "controls",
        "ole_objects", "vml_shapes"), 0)
    inv["table_names"] = []
    inv["pivot_sources"] = []

    def other(text):
        sheets, external, idents, _ = formula_refs(text)
        return (external or any(s.lower() not in own for s in sheets)
                or any(i.lower() in names_other for i in idents))

    with pkg.open(part) as stream:
        stack = []
        for event, el in ET.iterparse(stream, events=("start", "end")):
            tag = local(el.tag)
            if event == "start":
                stack.append(tag)
                continue
            stack.pop()
            if tag == "hyperlink":
                inv["hyperlinks"] += 1
                loc = el.get("location")
                if loc and not any(el.get(k) for k in ("{%s}id" % NS_R, "{%s}id" % NS_R_STRICT)):
                    if other(loc):
                        inv["hyperlinks_other_sheet"] += 1
            elif tag == "cfRule":
                texts = [c.text or "" for c in el.iter() if local(c.tag) in ("formula", "f")]
                if "conditionalFormatting" in stack and el.tag.startswith("{%s}" % NS_MAIN):
                    inv["cf_rules"] += 1
                else:
                    inv["cf_rules_ext"] += 1
                if any(other(t) for t in texts):
                    inv["cf_rules_other_sheet"] += 1
            elif tag == "dataValidation":
                texts = [c.text or "" for c in el.iter() if local(c.tag) in ("formula1", "formula2", "f")]
                if el.tag.startswith("{%s}" % NS_MAIN):
                    inv["dv"] += 1
                else:
                    inv["dv_ext"] += 1
                if any(other(t) for t in texts):
                    inv["dv_other_sheet"] += 1
            elif tag == "sparkline":
                inv["sparklines"] += 1
                f = next((c.text for c in el if local(c.tag) == "f"), "")
                if f and other(f):
                    inv["sparklines_other_sheet"] += 1
            elif tag == "picture" and not stack[-1:] == ["oleObject"]:
                inv["background"] += 1
            elif tag == "control":
                inv["controls"] += 1
            elif tag == "oleObject":
                inv["ole_objects"] += 1
            if tag in ("row",):
                el.clear()

    for rel in pkg.rels(part):
        if rel.external or not rel.part or not pkg.has(rel.part):
            continue
        kind = rel.kind
        if kind == "drawing":
            _count_drawing(pkg, rel.part, inv)
        elif kind == "comments":
            inv["comments"] += sum(1 for el in pkg.xml(rel.part).iter() if local(el.tag) == "comment")
        elif kind == "threadedComment":
            inv["threaded_comments"] += sum(1 for el in pkg.xml(rel.part).iter()
                                            if local(el.tag) == "threadedComment")
        elif kind == "table":
            inv["tables"] += 1
            inv["table_names"].append(pkg.xml(rel.part).get("name"))
        elif kind == "pivotTable":
            inv["pivot_tables"] += 1
            inv["pivot_sources"].append(_pivot_source(pkg, rel.part))
    # Header/footer pictures live in the VML part named by legacyDrawingHF; note boxes and
    # form buttons in the one named by legacyDrawing.
    for tag, key in (("legacyDrawingHF", "hf_pictures"), ("legacyDrawing", "vml_shapes")):
        el = _find_first(pkg, part, tag)
        if el is not None:
            rid = el.get("{%s}id" % NS_R) or el.get("{%s}id" % NS_R_STRICT)
            rel = pkg.rel_by_id(part, rid)
            if rel and rel.part and pkg.has(rel.part):
                inv[key] = len(re.findall(rb"<v:shape\b", pkg.read(rel.part)))
    return inv


def _find_first(pkg, part, wanted):
    with pkg.open(part) as stream:
        for _, el in ET.iterparse(stream, events=("end",)):
            if local(el.tag) == wanted:
                return el
            if local(el.tag) == "row":
                el.clear()
    return None


def _count_drawing(pkg, part, inv):
    root = pkg.xml(part)
    for el in root.iter():
        tag = local(el.tag)
        if tag == "pic":
            inv["pictures"] += 1
        elif tag == "sp":
            inv["shapes"] += 1
        elif tag == "grpSp":
            inv["groups"] += 1
        elif tag == "cxnSp":
            inv["connectors"] += 1
        elif tag == "graphicFrame":
            inv["graphic_frames"] += 1
            if any(local(c.tag) == "chart" for c in el.iter()):
                inv["charts"] += 1


def _pivot_source(pkg, pivot_part):
    """Sheet name a pivot table's cache reads from ('' when not a worksheet range)."""
    for rel in pkg.rels_of_kind(pivot_part, "pivotCacheDefinition"):
        if rel.part and pkg.has(rel.part):
            for el in pkg.xml(rel.part).iter():
                if local(el.tag) == "worksheetSource":
                    if el.get("sheet"):
                        return el.get("sheet")
                    if el.get("name"):
                        return "name:" + el.get("name")
    return ""


def _names_pointing_elsewhere(wb, sheet):
    """Lower-case names (global, or local to this sheet) whose text leaves the sheet."""
    index = wb["sheets"].index(sheet)
    own = sheet["name"].lower()
    out = set()
    for n in wb["names"]:
        if n["localSheetId"] not in (None, str(index)):
            continue
        sheets, external, _, _ = formula_refs(n["text"])
        if external or any(s.lower() != own for s in sheets) or "#REF!" in n["text"]:
            out.add(n["name"].lower())
    return out


def names_pointing_elsewhere(pkg, sheet_name):
    wb = pkg.workbook()
    return _names_pointing_elsewhere(wb, pkg.sheet(sheet_name))
