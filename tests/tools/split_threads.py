#!/usr/bin/python3
"""Does a split on several threads write and print exactly what a split on one thread does?

How to run:
    /usr/bin/python3 tests/tools/split_threads.py --cli build/bin/tabrendcli [--threads 4]

Splits one folder of fixtures (sound workbooks, one that cannot be opened, one whose middle
sheet is broken, one named as a running number, sheets whose names clean to one name) with
TABREND_THREADS=1 and with --threads, under "/name=3" (running numbers continue after a
failed workbook and restart after a done one) and under "/name=1" followed by a second run
with "/overwrite=0". Each pair must agree on the exit status, every line printed, the list
of files, and every part of every output, byte for byte. The sheet after the broken one
must be written by neither, and no staging folder may be left. Exit 0 when all hold.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import make_fixtures  # noqa: E402


def make_folder(folder, tmp):
    make_fixtures.make_values_types(os.path.join(folder, "a_values.xlsx"))
    make_fixtures.make_formulas_cross_sheet(os.path.join(folder, "b_formulas.xlsx"))
    make_fixtures.make_styles_merges_widths(os.path.join(folder, "c_styles.xlsx"))
    make_fixtures.make_images(os.path.join(folder, "d_images.xlsx"), tmp)
    make_fixtures.make_hidden_sheets(os.path.join(folder, "e_hidden.xlsx"))
    broken = make_fixtures.SHEET_OPEN + '<row r="1"><c r="A1"><v>2</v></c></row><row>'
    with open(os.path.join(folder, "f_middle_fails.xlsx"), "wb") as out:
        out.write(make_fixtures.zip_bytes(make_fixtures.minimal_package(
            ["Good", "Broken", "Later"], sheet_override={2: broken})))
    with open(os.path.join(folder, "g_not_a_zip.xlsx"), "wb") as out:
        out.write(b"plain text\n")
    with open(os.path.join(folder, "h_clash.xlsx"), "wb") as out:  # both clean to "ab"
        out.write(make_fixtures.zip_bytes(make_fixtures.minimal_package(["a|b", "ab", "Third"])))
    with open(os.path.join(folder, "1.xlsx"), "wb") as out:  # named as its first number
        out.write(make_fixtures.zip_bytes(make_fixtures.minimal_package(["One", "Two"])))


def run(cli, source, out, threads, switches):
    environment = dict(os.environ, TABREND_THREADS=str(threads))
    done = subprocess.run([cli, source, out, "/verbose=1"] + switches, capture_output=True, text=True,
                          env=environment, timeout=600)
    return done.returncode, (done.stdout + "--\n" + done.stderr).replace(out, "<OUT>")


def contents(top):
    found = {}
    for base, folders, files in os.walk(top):
        for name in folders + files:
            if name.startswith(".tabrend-"):
                found[os.path.relpath(os.path.join(base, name), top)] = "staging folder left behind"
        for name in files:
            path = os.path.join(base, name)
            with zipfile.ZipFile(path) as package:
                found[os.path.relpath(path, top)] = [(i.filename, package.read(i.filename)) for i in package.infolist()]
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--threads", type=int, default=4)
    arguments = parser.parse_args()
    work = tempfile.mkdtemp(prefix="tabrend-threads-")
    problems = []
    try:
        source = os.path.join(work, "source")
        os.mkdir(source)
        make_folder(source, work)
        for label, runs in (("/name=3", [["/name=3"]]), ("/overwrite=0", [[], ["/overwrite=0"]])):
            results = {}
            for threads in (1, arguments.threads):
                out = os.path.join(work, "out-%d" % threads)
                shutil.rmtree(out, ignore_errors=True)
                os.mkdir(out)
                results[threads] = [run(arguments.cli, source, out, threads, switches) for switches in runs]
                results[threads].append(contents(out))
            one, many = results[1], results[arguments.threads]
            for step, (a, b) in enumerate(zip(one[:-1], many[:-1])):
                if a != b:
                    problems.append("%s, run %d: one thread printed %r, %d threads %r" % (
                        label, step + 1, a, arguments.threads, b))
            if sorted(one[-1]) != sorted(many[-1]):
                problems.append("%s: files differ: %s against %s" % (label, sorted(one[-1]), sorted(many[-1])))
            for name in sorted(set(one[-1]) & set(many[-1])):
                if one[-1][name] != many[-1][name]:
                    problems.append("%s: %s differs" % (label, name))
            for name, value in many[-1].items():
                if isinstance(value, str):
                    problems.append("%s: %s: %s" % (label, name, value))
            middle = sorted(n for n in one[-1] if n.startswith("f_middle_fails"))
            expected = ["f_middle_fails/1.xlsx"] if label == "/name=3" else ["f_middle_fails/Good.xlsx"]
            if middle != expected:
                problems.append("%s: the workbook whose middle sheet fails wrote %s, not %s" % (label, middle, expected))
            # Its sheets drew 1 and 2; the unopenable one draws none; the next goes on from 3.
            after = sorted(n for n in one[-1] if n.startswith("h_clash"))
            if label == "/name=3" and after != ["h_clash/3.xlsx", "h_clash/4.xlsx", "h_clash/5.xlsx"]:
                problems.append("numbers after the failed workbooks: %s" % after)
            if label == "/name=3" and "g_not_a_zip" not in one[0][1]:
                problems.append("the workbook that cannot be opened is not reported")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for problem in problems:
        print(problem)
    print("%d problems" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
