#!/usr/bin/python3
"""Splits workbooks with the real tabrendcli and checks that every sheet looks the same in its
own output as in its source, page image against page image.

How to run:
    /usr/bin/python3 tests/tools/split_looks.py --cli build/bin/tabrendcli
        (--fixtures | --corpus DIR [--part K/N])
        [--failures DIR]  keep the images of every sheet that looks different here
        [--keep DIR]      work in this folder and keep it

How it works: LibreOffice headless exports each source and each output to PDF with the Calc
export's SinglePageSheets option, one page per sheet, each page as large as the sheet's used
area (sources and outputs each in as few soffice starts as possible). The sources are exported
from a copy whose sheets are all visible, so that page k is always the k-th sheet the workbook
lists. pdftoppm renders a sheet's page of the source and the page of its output at the same
resolution, and ImageMagick's compare counts the pixels that differ by more than FUZZ; up to
ALLOWED_PIXELS of them pass as anti-aliasing. A page of another size differs outright.
LibreOffice draws the active sheet from its view (a right-to-left sheet from its top-left
cell), and an output's one sheet is always active; and it draws every page that follows one it
had to shrink (a sheet too large for a PDF page) shrunk too. So a sheet that differs is looked
at again against a copy of the source where it is the first sheet and the active one.

Verdicts, one per output sheet: "same"; "differs, with a loss report" (the split said what it
could not keep: listed, with its report); "differs" with an empty loss report, a failure unless
KNOWN names the sheet with its reason. A source whose pages are not its sheets (LibreOffice
adds sheets of its own for scenarios, or a pivot table's lost source) is only looked at the
second way. Sheets LibreOffice cannot export, or whose output it shows as more than one sheet,
are counted and not compared. The last lines give the figures and read "N passed, M failed".
Exit 0 when nothing failed, 77 when there is no corpus.
"""

import argparse
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import lo_cells  # noqa: E402
import split_corpus  # noqa: E402
import split_fixtures  # noqa: E402
import xlsx_pkg  # noqa: E402

PDF_FILTER = 'pdf:calc_pdf_Export:{"SinglePageSheets":{"type":"boolean","value":"true"}}'
COMPARE = "/usr/bin/compare"
# LibreOffice draws the same page the same way each time: the tolerance is only for a stray
# anti-aliased pixel, so that a thin border or a faint fill still counts.
FUZZ = "2%"              # a pixel differs when its colour is further off than this
ALLOWED_PIXELS = 0.00002  # share of a page's pixels that may differ, and at least 4
MAX_SIDE = 1600         # pixels of a page's longer side, at most
MAX_DPI = 72

# Sheets that look different although the split reports no loss, by their label, with the
# reason.
KNOWN = {
    "Other/Charts/PreserveCharts/inputfile.xlsx [Sheet1]": "RANDBETWEEN(), which LibreOffice draws anew each time",
    "Other/Charts/PreserveCharts/outputfile.xlsx [Sheet1]": "RANDBETWEEN(), which LibreOffice draws anew each time",
}


def log(*args):
    print(*args, flush=True)


def visible_copy(source, target, active=None):
    """The source with every sheet visible, so LibreOffice exports each of them in list order.
    With `active` (a sheet's number, from 0), that sheet is also moved to the front of the list
    and made the active one: its page is then the first. Returns the page of sheet `active`."""
    with zipfile.ZipFile(source) as zin, xlsx_pkg.Package(source) as pkg:
        workbook = pkg.workbook_part()
        parts = [s["part"] for s in pkg.workbook()["sheets"]]
        page = None
        with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as zout:
            for info in zin.infolist():
                data = zin.read(info.filename)
                if info.filename == workbook:
                    data = re.sub(rb'(<(?:[\w.-]+:)?sheet\s[^>]*?)\sstate\s*=\s*("[^"]*"|\'[^\']*\')', rb"\1", data)
                    if active is not None:
                        data, page = first_sheet(data, active)
                        for _ in range(2):
                            data = re.sub(rb'(<(?:[\w.-]+:)?workbookView\b[^>]*?)\s(?:activeTab|firstSheet)\s*=\s*"[^"]*"',
                                          rb"\1", data)
                        data = re.sub(rb'(<(?:[\w.-]+:)?workbookView\b)', rb'\1 activeTab="%d"' % (page - 1), data, count=1)
                elif active is not None and info.filename in parts:
                    data = re.sub(rb'(<(?:[\w.-]+:)?sheetView\b[^>]*?)\stabSelected\s*=\s*"[^"]*"', rb"\1", data)
                    if info.filename == parts[active]:
                        data = re.sub(rb'(<(?:[\w.-]+:)?sheetView\b)', rb'\1 tabSelected="1"', data, count=1)
                zout.writestr(info, data)
    return page if active is not None else None


def first_sheet(workbook, index):
    """workbook.xml with sheet `index` moved to the front (sheet-scoped names follow their
    sheets), and that sheet's page; unchanged, with its page, when the list has another shape.
    LibreOffice draws every page after one it had to shrink (a sheet too large for a PDF page)
    shrunk as well, so a sheet is seen alone only in front."""
    sheets = list(re.finditer(rb'<(?:[\w.-]+:)?sheet\s[^>]*/>', workbook))
    if index >= len(sheets) or any(b"</" in workbook[a.end():b.start()] for a, b in zip(sheets, sheets[1:])):
        return workbook, index + 1
    order = [index] + [i for i in range(len(sheets)) if i != index]
    moved = workbook[:sheets[0].start()]
    for n, i in enumerate(order):
        moved += sheets[i].group(0) + (workbook[sheets[n].end():sheets[n + 1].start()] if n + 1 < len(sheets) else b"")
    moved += workbook[sheets[-1].end():]
    position = {old: new for new, old in enumerate(order)}
    moved = re.sub(rb'localSheetId\s*=\s*"(\d+)"',
                   lambda m: b'localSheetId="%d"' % position.get(int(m.group(1)), int(m.group(1))), moved)
    return moved, 1


def sheet_names(path):
    with xlsx_pkg.Package(path) as pkg:
        return [s["name"] for s in pkg.workbook()["sheets"]]


def export_pdfs(paths, root, timeout=900):
    """{path: pdf path or None} for every path, in as few soffice starts as possible, each
    drawn as the spreadsheet application shows it: recalculated when it asks for a full
    calculation on opening, else with the results it stores. A start that dies is resumed
    after the file it died on."""
    asking = [p for p in paths if xlsx_pkg.asks_full_calc(p)]
    pdfs = _export_pdfs([p for p in paths if p not in asking], root, "never", timeout)
    if asking:
        pdfs.update(_export_pdfs(asking, os.path.join(root, "calculated"), "always", timeout))
    return pdfs


def _export_pdfs(paths, root, recalc, timeout):
    profile = lo_cells.make_profile(os.path.join(root, "lo"), recalc)
    indir, outdir = os.path.join(root, "lo", "in"), os.path.join(root, "lo", "out")
    os.makedirs(indir)
    os.makedirs(outdir)
    links, owner = [], {}
    for i, path in enumerate(paths):
        link = os.path.join(indir, "f%05d%s" % (i, os.path.splitext(path)[1].lower()))
        os.symlink(os.path.abspath(path), link)
        links.append(link)
        owner[link] = path

    def pdf_of(link):
        pdf = os.path.join(outdir, os.path.splitext(os.path.basename(link))[0] + ".pdf")
        return pdf if os.path.exists(pdf) else None

    deadline = time.time() + timeout
    pending, tried_alone = links, set()
    while pending and time.time() < deadline:
        batch, size = [], 0
        for link in pending:
            if batch and size + len(link) + 1 > lo_cells.ARG_BUDGET:
                break
            batch.append(link)
            size += len(link) + 1
        try:
            lo_cells.run_soffice(["--convert-to", PDF_FILTER, "--outdir", outdir] + batch, profile,
                                 max(1, deadline - time.time()), os.path.join(root, "lo"))
        except lo_cells.LoError as exc:
            log("LibreOffice: %s" % exc)
        done = 0
        while done < len(batch) and pdf_of(batch[done]):
            done += 1
        rest = pending[done:]
        if rest and done < len(batch):
            # soffice skipped or died on rest[0]: once more on its own start, then give it up.
            if rest[0] in tried_alone or len(batch) == 1:
                rest = rest[1:]
            else:
                tried_alone.add(rest[0])
                head = [rest[0]]
                try:
                    lo_cells.run_soffice(["--convert-to", PDF_FILTER, "--outdir", outdir] + head, profile,
                                         max(1, deadline - time.time()), os.path.join(root, "lo"))
                except lo_cells.LoError:
                    pass
                rest = rest[1:]
        pending = rest
    return {owner[link]: pdf_of(link) for link in links}


def page_sizes(pdf):
    done = subprocess.run(["pdfinfo", "-f", "1", "-l", "100000", pdf], capture_output=True, text=True)
    sizes = []
    for line in done.stdout.splitlines():
        m = re.match(r"Page\s+\d+ size:\s+([\d.]+) x ([\d.]+) pts", line)
        if m:
            sizes.append((float(m.group(1)), float(m.group(2))))
    return sizes


def render(pdf, page, dpi, target):
    """The page as an uncompressed image: quicker to write and to read than PNG."""
    subprocess.run(["pdftoppm", "-r", "%.3f" % dpi, "-f", str(page), "-l", str(page), "-singlefile",
                    pdf, target], check=True, capture_output=True)
    return target + ".ppm"


def differing_pixels(a, b, diff):
    # Most pages come out exactly alike, and then no pixel differs: compare is asked only about
    # the others.
    if filecmp.cmp(a, b, shallow=False):
        return 0
    done = subprocess.run([COMPARE, "-metric", "AE", "-fuzz", FUZZ, a, b, diff], capture_output=True, text=True)
    try:
        return int(float(done.stderr.split()[0]))
    except (ValueError, IndexError):
        raise RuntimeError("compare: %s" % done.stderr.strip())


def compare_page(source_pdf, source_page, source_size, output_pdf, output_size, scratch):
    """None when the pages look the same, else what differs (images left in scratch)."""
    if abs(source_size[0] - output_size[0]) > 1 or abs(source_size[1] - output_size[1]) > 1:
        what = "page %.0f x %.0f pt, source %.0f x %.0f pt" % (output_size + source_size)
    else:
        what = None
    longer = max(source_size + output_size + (1.0,))
    dpi = min(MAX_DPI, MAX_SIDE * 72.0 / longer)
    a = render(source_pdf, source_page, dpi, os.path.join(scratch, "source"))
    b = render(output_pdf, 1, dpi, os.path.join(scratch, "output"))
    if what:
        return what
    pixels = differing_pixels(a, b, os.path.join(scratch, "diff.png"))
    total = (source_size[0] * dpi / 72.0) * (source_size[1] * dpi / 72.0)
    if pixels > max(4, ALLOWED_PIXELS * total):
        return "%d pixels differ" % pixels
    return None


def split_all(cli, sources, work):
    """[(source, output path, sheet, losses)] for every output, and the problems of the runs."""
    outputs, problems = [], []
    for number, source in enumerate(sources, 1):
        out = os.path.join(work, "out", "%04d" % number)
        os.makedirs(out)
        done = subprocess.run([cli, source, out, "/verbose=1"], capture_output=True, text=True, timeout=600)
        if done.returncode != 0:
            problems.append("split %s: exit status %d: %s" % (source, done.returncode, done.stderr.strip()))
        losses = split_corpus.losses_of(done.stderr)
        for name in sorted(os.listdir(out)):
            path = os.path.join(out, name)
            names = sheet_names(path)
            outputs.append((source, path, names[0] if len(names) == 1 else None, losses.get(name, [])))
    return outputs, problems


def fixture_sources(work, libreoffice_written=True):
    """The fixtures the split checks take, made in work (without the LibreOffice-written ones
    when libreoffice_written is false)."""
    import make_fixtures
    fixtures = os.path.join(work, "fixtures")
    if make_fixtures.main([fixtures] + ([] if libreoffice_written else ["--no-lo"])) != 0:
        raise RuntimeError("the fixtures could not be made")
    return sound_fixtures(fixtures)


def sound_fixtures(folder, libreoffice_written=True):
    """The workbooks of a folder of fixtures that split whole (without the LibreOffice-written
    ones when libreoffice_written is false)."""
    return [os.path.join(folder, n) for n in sorted(os.listdir(folder))
            if n.lower().endswith((".xlsx", ".xlsm", ".xltx", ".xltm")) and not n.startswith("legacy")
            and n not in split_fixtures.BAD and n not in split_fixtures.PARTIAL
            and (libreoffice_written or not n.startswith("lo_"))]


def corpus_sources(corpus, part):
    first, every = (int(x) for x in part.split("/"))
    files = []
    for folder, _, names in os.walk(corpus):
        files += [os.path.join(folder, n) for n in names
                  if n.lower().endswith((".xlsx", ".xlsm")) and n not in split_corpus.EXPECTED_FAILURES]
    return sorted(files)[first - 1::every]


def look(sources, outputs, work, corpus=None, failures=None):
    """Compares each output's page with its source sheet's; (figures, failed). outputs as
    split_all gives them; corpus, when the sources are its files, for their labels; failures,
    a folder to keep the images of every sheet that looks different in."""
    started = time.time()
    failed = []
    figures = {"compared": 0, "same": 0, "with loss report": 0, "without": 0, "known": 0, "not compared": 0}
    os.makedirs(os.path.join(work, "visible"))
    visible = {}
    for number, source in enumerate(sources):
        visible[source] = os.path.join(work, "visible", "%04d%s" % (number, os.path.splitext(source)[1]))
        visible_copy(source, visible[source])
    outputs = [entry for entry in outputs if entry[0] in visible]
    pdfs = export_pdfs(list(visible.values()) + [path for _, path, _, _ in outputs], work)
    log("LibreOffice exported %d files in %.0f s" % (len(pdfs), time.time() - started))
    pages = {}

    def sizes(pdf):
        if pdf not in pages:
            pages[pdf] = page_sizes(pdf)
        return pages[pdf]

    # First look: every output against the source's visible copy.
    looked = []  # (label, source, sheet, losses, output pdf, page, scratch, what)
    for source, path, sheet, losses in outputs:
        label = "%s [%s]" % (os.path.relpath(source, corpus) if corpus else os.path.basename(source), sheet)
        source_pdf, output_pdf = pdfs[visible[source]], pdfs[path]
        names = sheet_names(source)
        if sheet not in names or not source_pdf or not output_pdf or len(sizes(output_pdf)) != 1:
            figures["not compared"] += 1
            log("not compared %s: %s" % (label, "LibreOffice did not export it" if not (source_pdf and output_pdf)
                                          else "its output is not one page"))
            continue
        page = names.index(sheet) + 1
        scratch = tempfile.mkdtemp(dir=work)
        figures["compared"] += 1
        if len(sizes(source_pdf)) != len(names):
            # LibreOffice made sheets of its own (scenarios, a pivot table's lost source):
            # only the second look, with the sheet in front, can find its page.
            what = "the source's pages are not its sheets"
        else:
            what = compare_page(source_pdf, page, sizes(source_pdf)[page - 1], output_pdf, sizes(output_pdf)[0],
                                scratch)
        looked.append([label, source, sheet, losses, output_pdf, page, scratch, what])
    # Second look at the sheets that differ: LibreOffice exports the active sheet from its
    # view (a right-to-left sheet from its top-left cell), and each output's sheet is its
    # active one; it also shrinks every page after one too large for PDF. So the source is
    # exported again with that sheet active and first.
    again = [entry for entry in looked if entry[7]]
    if again:
        os.makedirs(os.path.join(work, "active"))
        copies = []
        for number, entry in enumerate(again):
            copy = os.path.join(work, "active", "%04d%s" % (number, os.path.splitext(entry[1])[1]))
            copies.append((copy, visible_copy(entry[1], copy, entry[5] - 1)))
        active_pdfs = export_pdfs([copy for copy, _ in copies], os.path.join(work, "active"))
        for entry, (copy, page) in zip(again, copies):
            pdf = active_pdfs[copy]
            if pdf and len(sizes(pdf)) >= page:
                if compare_page(pdf, page, sizes(pdf)[page - 1], entry[4], sizes(entry[4])[0], entry[6]) is None:
                    entry[7] = None
    for label, source, sheet, losses, _, _, scratch, what in looked:
        if what is None:
            figures["same"] += 1
            shutil.rmtree(scratch, ignore_errors=True)
            continue
        if losses:
            figures["with loss report"] += 1
            kind = "with_loss_report"
            log("differs %s: %s; the split reported: %s" % (label, what, "; ".join(losses)))
        elif label in KNOWN:
            figures["known"] += 1
            kind = "known"
            log("known %s: %s (%s)" % (label, what, KNOWN[label]))
        else:
            figures["without"] += 1
            kind = "unexplained"
            failed.append(label)
            log("FAIL %s looks different with an empty loss report: %s" % (label, what))
        if failures:
            keep = os.path.join(failures, kind, re.sub(r"[^\w.-]+", "_", label))
            os.makedirs(keep, exist_ok=True)
            for name in os.listdir(scratch):
                image = os.path.join(scratch, name)
                if name.endswith(".ppm"):
                    subprocess.run(["convert", image, os.path.join(keep, name[:-4] + ".png")], check=False)
                else:
                    shutil.copy(image, keep)
        shutil.rmtree(scratch, ignore_errors=True)
    log("%(compared)d sheets compared: %(same)d look the same, %(with loss report)d differ with a loss report, "
        "%(without)d differ without one, %(known)d known; %(not compared)d not compared" % figures)
    return figures, failed


def main(argv=None):
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--fixtures", action="store_true")
    ap.add_argument("--corpus")
    ap.add_argument("--part", default="1/1")
    ap.add_argument("--failures", default=None)
    ap.add_argument("--keep", default=None)
    a = ap.parse_args(argv)
    if a.corpus and not os.path.isdir(a.corpus):
        log("no corpus at %s: skipped" % a.corpus)
        return 77
    started = time.time()
    work = a.keep or tempfile.mkdtemp(prefix="tabrend-looks-")
    os.makedirs(work, exist_ok=True)
    if a.failures:
        shutil.rmtree(a.failures, ignore_errors=True)
        os.makedirs(a.failures)
    figures, failed = {"compared": 0, "without": 0}, ["the check stopped early"]
    try:
        sources = fixture_sources(work) if a.fixtures else corpus_sources(a.corpus, a.part)
        outputs, problems = split_all(a.cli, sources, work)
        for problem in problems:
            log("FAIL %s" % problem)
        figures, failed = look(sources, outputs, work, a.corpus, a.failures)
        failed = problems + failed
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)
    log("%.0f s" % (time.time() - started))
    log("%d passed, %d failed" % (figures["compared"] - figures["without"], len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
