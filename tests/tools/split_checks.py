#!/usr/bin/python3
"""Every check of split outputs on one set of workbooks, sharing what they can: the fixtures
made once, one split into workbooks that the package, schema, openpyxl and LibreOffice cell
checks (split_fixtures.py or split_corpus.py) and the page images (split_looks.py) all look
at, and one LibreOffice export of the sources' cells that the cell check and the CSV check
(csv_conformance.py) both compare with. The CSV check splits into CSV of its own.

How to run:
    /usr/bin/python3 tests/tools/split_checks.py --cli build/bin/tabrendcli
        (--fixtures | --corpus DIR [--part K/N]) [--failures DIR] [--keep DIR]

--failures keeps the page images of every sheet that looks different (split_looks.py). Each
check prints its own lines and the time it took; the last line reads "N passed, M failed".
Exit 0 when nothing failed, 77 when there is no corpus.
"""

import argparse
import os
import shutil
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import csv_conformance  # noqa: E402
import lo_cells  # noqa: E402
import make_fixtures  # noqa: E402
import split_corpus  # noqa: E402
import split_fixtures  # noqa: E402
import split_looks  # noqa: E402


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
        print("no corpus at %s: skipped" % a.corpus)
        return 77
    work = a.keep or tempfile.mkdtemp(prefix="tabrend-checks-")
    os.makedirs(work, exist_ok=True)
    if a.failures:
        shutil.rmtree(a.failures, ignore_errors=True)
        os.makedirs(a.failures)
    passed, failed = 0, []
    started = time.time()

    def section(name):
        print("==== %s (%.0f s in)" % (name, time.time() - started), flush=True)

    try:
        if a.fixtures:
            section("fixtures")
            fixtures = os.path.join(work, "fixtures")
            if make_fixtures.main([fixtures]) != 0:
                print("FAIL making the fixtures")
                return 1
            root = fixtures
            split_sources = [os.path.join(fixtures, n) for n in sorted(os.listdir(fixtures))]
            looked_at = split_looks.sound_fixtures(fixtures)
            as_csv = split_looks.sound_fixtures(fixtures, libreoffice_written=False)
        else:
            root = a.corpus
            split_sources = split_corpus.corpus_files(a.corpus, a.part)
            looked_at = split_looks.corpus_sources(a.corpus, a.part)
            as_csv = looked_at
        section("LibreOffice's cells of the sources")
        exported = lo_cells.lo_cells(sorted(set(looked_at) | set(as_csv)), timeout=1500, recalc="auto", raw=True)
        cells = {source: lo_cells.as_cells(result) for source, result in exported.items()}

        section("split into workbooks, each output checked")
        split_work = os.path.join(work, "split")
        os.makedirs(split_work)
        if a.fixtures:
            tally = split_fixtures.Tally()
            outputs = split_fixtures.run(a.cli, fixtures, split_work, tally, exported=cells)
            passed, failed = tally.passed, list(tally.failed)
        else:
            passed, failed, outputs = split_corpus.run(a.cli, split_sources, split_work, exported=cells)

        section("how each sheet looks")
        looks_work = os.path.join(work, "looks")
        os.makedirs(looks_work)
        figures, looks_failed = split_looks.look(looked_at, outputs, looks_work, a.corpus, a.failures)
        passed += figures["compared"] - figures["without"]
        failed += looks_failed

        section("CSV")
        csv_work = os.path.join(work, "csv")
        os.makedirs(csv_work)
        csv_passed, csv_problems = csv_conformance.conform(a.cli, as_csv, root, csv_work, exported=exported)
        passed += csv_passed
        if csv_problems:
            failed.append("CSV: %d problems" % csv_problems)
        section("done")
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (passed, len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
