#!/usr/bin/python3
"""Validates every XML part of split outputs against the ECMA-376 Transitional schemas, each
part judged beside the source part it was made from.

How to run:
    /usr/bin/python3 tests/tools/schema_check.py [--schemas DIR] SOURCE.xlsx OUTPUT.xlsx [...]

Exit status: 0 no output part breaks what its source part keeps; 1 some part does (each
named with its source, its part and the schema's message); 2 usage error; 77 no schemas.

Each part is read as an application that knows exactly the namespaces of the schemas would
read it under Markup Compatibility: mc:AlternateContent becomes its first Choice whose
Requires it understands, else its Fallback; elements and attributes of namespaces listed
in mc:Ignorable go; one of a namespace neither understood nor ignorable is a fault (the
application must reject the part), except inside an ext element, whose content the schemas
take laxly; xml:space, which XML gives every element, goes too. What remains is validated
against all.xsd of the schema folder. Parts whose root is in no namespace of the schemas
(VML, threaded comments, rich data...) are counted as not covered. A Strict source's parts are read with their namespaces mapped to the Transitional
ones, so they can stand beside its outputs, which must be Transitional throughout (no Strict
namespace or relationship type in any part).

The rule: an output part is valid wherever its source part is. The source part of an output
part is found by walking both packages' relationships side by side (sheets by name, the
workbook's own parts by kind, everything below them by relationship id). A fault the source
part has too is the source's own and may be carried; any other fault is the output's. The
relationship parts and the content-type part are always the output's own writing, and must
be valid whatever the source's.
"""

import argparse
import os
import posixpath
import re
import sys
import zipfile

from lxml import etree

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import xlsx_pkg  # noqa: E402

DEFAULT_SCHEMAS = os.path.normpath(os.path.join(HERE, "..", "..", "..", "shared", "ooxml-schemas"))
NS_MC = "http://schemas.openxmlformats.org/markup-compatibility/2006"
NS_XML = "http://www.w3.org/XML/1998/namespace"
NS_XSI = "http://www.w3.org/2001/XMLSchema-instance"
# XML gives every element xml:space; the schemas leave it out of their text elements (<t>,
# <v>, header texts), where Office writes it to keep leading and trailing blanks.
XML_SPACE = "{%s}space" % NS_XML
NS_MAIN = xlsx_pkg.NS_MAIN

# Strict namespaces and their Transitional twins (ISO/IEC 29500-1, one to one).
_OX = "http://schemas.openxmlformats.org/"
_PURL = "http://purl.oclc.org/ooxml/"
STRICT_NAMESPACES = {
    _PURL + "spreadsheetml/main": _OX + "spreadsheetml/2006/main",
    _PURL + "officeDocument/relationships": _OX + "officeDocument/2006/relationships",
    _PURL + "officeDocument/extendedProperties": _OX + "officeDocument/2006/extended-properties",
    _PURL + "officeDocument/customProperties": _OX + "officeDocument/2006/custom-properties",
    _PURL + "officeDocument/docPropsVTypes": _OX + "officeDocument/2006/docPropsVTypes",
    _PURL + "officeDocument/sharedTypes": _OX + "officeDocument/2006/sharedTypes",
    _PURL + "officeDocument/customXml": _OX + "officeDocument/2006/customXml",
    _PURL + "officeDocument/bibliography": _OX + "officeDocument/2006/bibliography",
    _PURL + "officeDocument/math": _OX + "officeDocument/2006/math",
    _PURL + "schemaLibrary/main": _OX + "schemaLibrary/2006/main",
    _PURL + "wordprocessingml/main": _OX + "wordprocessingml/2006/main",
    _PURL + "presentationml/main": _OX + "presentationml/2006/main",
}
for _name in ("main", "chart", "chartDrawing", "diagram", "picture", "lockedCanvas", "compatibility",
              "spreadsheetDrawing", "wordprocessingDrawing"):
    STRICT_NAMESPACES[_PURL + "drawingml/" + _name] = _OX + "drawingml/2006/" + _name

# Short names for the namespaces in messages.
SHORT = {NS_MAIN: "", _OX + "drawingml/2006/main": "a:", _OX + "drawingml/2006/spreadsheetDrawing": "xdr:",
         _OX + "drawingml/2006/chart": "c:", _OX + "officeDocument/2006/relationships": "r:",
         NS_MC: "mc:", _OX + "package/2006/relationships": "", _OX + "package/2006/content-types": ""}


def short(text):
    return re.sub(r"\{([^}]*)\}", lambda m: SHORT.get(m.group(1), m.group(0)), text)


class Schemas:
    """all.xsd of a schema folder, and the namespaces it brings (what a reader understands)."""

    def __init__(self, folder):
        self.folder = folder
        self.validator = etree.XMLSchema(etree.parse(os.path.join(folder, "all.xsd")))
        self.understood = {NS_XML, NS_XSI}
        todo, seen = ["all.xsd"], set()
        while todo:
            name = todo.pop()
            if name in seen or not os.path.exists(os.path.join(self.folder, name)):
                continue
            seen.add(name)
            root = etree.parse(os.path.join(self.folder, name)).getroot()
            if root.get("targetNamespace") and name != "all.xsd":
                self.understood.add(root.get("targetNamespace"))
            for el in root:
                if etree.QName(el).localname in ("import", "include") and el.get("schemaLocation"):
                    todo.append(el.get("schemaLocation"))


_PARSER = etree.XMLParser(resolve_entities=False, no_network=True, huge_tree=True, remove_comments=True,
                          remove_pis=True)


def namespace(tag):
    return tag[1:].split("}", 1)[0] if tag.startswith("{") else ""


def mc_process(root, understood):
    """Markup Compatibility processing of root's tree, in place; returns the faults found."""
    faults = []

    def fault(text):
        if text not in faults:
            faults.append(text)

    def prefixes_to_namespaces(el, value, what):
        found = set()
        for prefix in (value or "").split():
            ns = el.nsmap.get(prefix)
            if ns is None:
                fault("%s names prefix %r, which is not declared" % (what, prefix))
            else:
                found.add(ns)
        return found

    def process(el, ignorable, lax):
        ignorable = ignorable | prefixes_to_namespaces(el, el.get("{%s}Ignorable" % NS_MC), "mc:Ignorable")
        for ns in prefixes_to_namespaces(el, el.get("{%s}MustUnderstand" % NS_MC), "mc:MustUnderstand"):
            if ns not in understood:
                fault("<%s> must be understood in namespace %s" % (short(el.tag), ns))
        for key in list(el.attrib):
            ns = namespace(key)
            if key == XML_SPACE:
                del el.attrib[key]
                continue
            if not ns or ns in understood:
                continue
            if ns != NS_MC and ns not in ignorable and not lax:
                fault("<%s %s>: attribute of a namespace neither understood nor ignorable"
                      % (short(el.tag), key))
            del el.attrib[key]
        position = 0
        while position < len(el):
            child = el[position]
            ns = namespace(child.tag)
            if child.tag == "{%s}AlternateContent" % NS_MC:
                chosen = None
                for branch in child:
                    if branch.tag == "{%s}Choice" % NS_MC:
                        needs = prefixes_to_namespaces(branch, branch.get("Requires"), "mc:Choice Requires")
                        if needs and needs <= understood:
                            chosen = branch
                            break
                    elif branch.tag == "{%s}Fallback" % NS_MC:
                        chosen = branch
                        break
                el.remove(child)
                for offset, taken in enumerate(list(chosen) if chosen is not None else []):
                    el.insert(position + offset, taken)
                continue  # the taken elements are processed in their new place
            if ns in understood:
                process(child, ignorable, lax or etree.QName(child).localname == "ext")
                position += 1
            elif ns in ignorable or ns == NS_MC:
                el.remove(child)
            elif lax:
                position += 1
            else:
                fault("<%s> in <%s>: element of a namespace neither understood nor ignorable"
                      % (child.tag, short(el.tag)))
                el.remove(child)

    process(root, set(), False)
    return faults


class PartVerdict:
    __slots__ = ("covered", "faults", "first_line")

    def __init__(self, covered, faults, first_line=None):
        self.covered, self.faults, self.first_line = covered, faults, first_line


def judge(data, schemas, strict_to_transitional=False):
    """The verdict on one part's bytes: faults as messages without line numbers."""
    if strict_to_transitional:
        for strict, transitional in STRICT_NAMESPACES.items():
            data = data.replace(strict.encode(), transitional.encode())
    try:
        root = etree.fromstring(data, _PARSER)
    except etree.XMLSyntaxError as exc:
        return PartVerdict(True, ["not well-formed: %s" % exc])
    if namespace(root.tag) not in schemas.understood:
        return PartVerdict(False, [])
    if strict_to_transitional:
        # The one attribute Strict has that Transitional lacks: valid where it came from.
        for el in root.iter("{%s}workbookPr" % NS_MAIN):
            el.attrib.pop("dateCompatibility", None)
    faults = mc_process(root, schemas.understood)
    first_line = {}
    if not schemas.validator.validate(root):
        for entry in schemas.validator.error_log:
            message = short(entry.message)
            if message not in first_line:
                first_line[message] = entry.line
                faults.append(message)
    return PartVerdict(True, faults, first_line)


def is_xml_part(name, content_types):
    defaults, overrides = content_types
    ctype = overrides.get(name.lower()) or defaults.get(name.rsplit(".", 1)[-1].lower()) or ""
    return name.lower().endswith((".xml", ".rels")) or ctype.endswith(("+xml", "/xml"))


def rel_kind(rel):
    """Relationship kinds, the same in both dialects."""
    return {"extendedProperties": "extended-properties",
            "customProperties": "custom-properties"}.get(rel.kind, rel.kind)


def source_parts(source, output):
    """{output part: source part} for the output parts made from a part of the source."""
    pairs = {"[Content_Types].xml": "[Content_Types].xml"}

    def follow(out_part, src_part, match):
        if out_part in pairs or not output.has(out_part) or not source.has(src_part):
            return
        pairs[output.find(out_part)] = source.find(src_part)
        out_rels = output.rels(out_part)
        src_rels = source.rels(src_part)
        out_rp = "_rels/.rels" if out_part == "" else xlsx_pkg.rels_path_of(out_part)
        src_rp = "_rels/.rels" if src_part == "" else xlsx_pkg.rels_path_of(src_part)
        if output.has(out_rp) and source.has(src_rp):
            pairs[output.find(out_rp)] = source.find(src_rp)
        for rel in out_rels:
            if rel.external or not rel.part:
                continue
            twin = match(rel, src_rels)
            if twin is not None and not twin.external and twin.part:
                follow(rel.part, twin.part, by_id)

    def by_id(rel, candidates):
        return next((r for r in candidates if r.id == rel.id and rel_kind(r) == rel_kind(rel)), None)

    def by_kind(rel, candidates):
        same = [r for r in candidates if rel_kind(r) == rel_kind(rel)]
        named = [r for r in same if posixpath.basename(r.part or "") == posixpath.basename(rel.part)]
        return (named or same or [None])[0]

    def workbook_level(rel, candidates):
        if rel_kind(rel) != "worksheet":
            return by_kind(rel, candidates)
        out_sheet = next((s for s in output.workbook()["sheets"] if s["part"] == rel.part), None)
        src_sheet = source.sheet(out_sheet["name"]) if out_sheet else None
        if not src_sheet or not src_sheet["part"]:
            return None
        return next((r for r in candidates if r.part == src_sheet["part"]), None)

    # The root's parts by kind; the workbook's by kind (sheets by name); below them by id.
    pairs[""] = ""
    for rel in output.rels(""):
        twin = by_kind(rel, source.rels("")) if not rel.external and rel.part else None
        if twin is not None and twin.part:
            follow(rel.part, twin.part, workbook_level if rel_kind(rel) == "officeDocument" else by_id)
    if output.has("_rels/.rels") and source.has("_rels/.rels"):
        pairs["_rels/.rels"] = source.find("_rels/.rels")
    del pairs[""]
    return pairs


def is_strict(pkg):
    wb = pkg.workbook_part()
    return bool(wb) and pkg.has(wb) and b"purl.oclc.org/ooxml/spreadsheetml/main" in pkg.read(wb)


class Tally:
    """Figures over everything checked."""

    def __init__(self):
        self.sources = set()
        self.outputs = self.parts = self.valid = self.carried = self.broken = self.uncovered = 0

    def line(self):
        return ("schema check: %d sources, %d outputs, %d XML parts checked: %d valid, %d carrying their "
                "source's own fault, %d broken; %d not covered by the schemas"
                % (len(self.sources), self.outputs, self.parts, self.valid, self.carried, self.broken,
                   self.uncovered))


class Checker:
    """Checks outputs of sources, remembering the verdicts on each source's parts."""

    def __init__(self, folder=DEFAULT_SCHEMAS):
        self.schemas = Schemas(folder)
        self.tally = Tally()
        self._source_verdicts = {}  # (source path, part) -> PartVerdict

    def source_verdict(self, source_path, pkg, part, strict):
        key = (source_path, part)
        if key not in self._source_verdicts:
            self._source_verdicts[key] = judge(pkg.read(part), self.schemas, strict)
        return self._source_verdicts[key]

    def check(self, source_path, output_path):
        """Problems of one output: "PART ...: message" lines, [] when it keeps to the rule."""
        self.tally.sources.add(source_path)
        self.tally.outputs += 1
        try:
            source = xlsx_pkg.Package(source_path)
        except (zipfile.BadZipFile, OSError):
            source = None  # not a package (a converted legacy workbook): its outputs stand alone
        try:
            with xlsx_pkg.Package(output_path) as output:
                return self._check(source_path, source, output)
        finally:
            if source is not None:
                source.close()

    def _check(self, source_path, source, output):
        problems = []
        pairs, strict = {}, False
        if source is not None:
            try:
                pairs = source_parts(source, output)
                strict = is_strict(source)
            except Exception as exc:  # a source too broken to pair with: every part stands alone
                problems.append("packages not paired (%s: %s): parts judged alone" % (type(exc).__name__, exc))
        content_types = output.content_types()
        for name in output.names:
            if not is_xml_part(name, content_types):
                continue
            data = output.read(name)
            verdict = judge(data, self.schemas)
            mixed = next(("Strict namespace or relationship type %s in a Transitional package" % ns
                          for ns in STRICT_NAMESPACES if ns.encode() in data), None)
            if not verdict.covered and not mixed:
                self.tally.uncovered += 1
                continue
            self.tally.parts += 1
            if not verdict.faults and not mixed:
                self.tally.valid += 1
                continue
            own_writing = name == "[Content_Types].xml" or name.lower().endswith(".rels")
            twin = pairs.get(name)
            excused = set()
            if twin is not None and not own_writing:
                excused = set(self.source_verdict(source_path, source, twin, strict).faults)
            new = [f for f in verdict.faults if f not in excused] + ([mixed] if mixed else [])
            if not new:
                self.tally.carried += 1
                continue
            self.tally.broken += 1
            for fault in new[:5]:
                line = verdict.first_line.get(fault) if verdict.first_line else None
                problems.append("%s%s (made from %s): %s"
                                % (name, " line %d" % line if line else "",
                                   "the source's " + twin if twin else "nothing of the source", fault))
        return problems


def checker_or_none(folder=DEFAULT_SCHEMAS):
    """A Checker, or None (said once) where the schemas are not at hand."""
    if os.path.exists(os.path.join(folder, "all.xsd")):
        return Checker(folder)
    print("no schemas at %s: the schema check is skipped" % folder)
    return None


def main(argv=None):
    ap = argparse.ArgumentParser(usage=__doc__.split("How to run:")[1].split("\n\n")[0])
    ap.add_argument("--schemas", default=DEFAULT_SCHEMAS)
    ap.add_argument("source")
    ap.add_argument("outputs", nargs="+")
    a = ap.parse_args(argv)
    checker = checker_or_none(a.schemas)
    if checker is None:
        return 77
    failed = False
    for path in a.outputs:
        problems = checker.check(a.source, path)
        print("%s %s -> %s" % ("FAIL" if problems else "OK  ", a.source, path))
        for problem in problems:
            print("  " + problem)
        failed |= bool(problems)
    print(checker.tally.line())
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
