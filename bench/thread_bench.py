#!/usr/bin/python3
"""Benchmark: the split on one thread against the split on several (TABREND_THREADS).

    thread_bench.py [--tabrendcli build/bin/tabrendcli] [--threads 2] [--repeat 3]
                    [--books 200] [--book-sheets 5] [--book-rows 200]

Prints the machine's core count, then for a folder of --books small workbooks (--book-sheets
sheets of --book-rows rows each) and for split_bench.py's workbook (8 sheets x 20,000 rows):
the best wall time of --repeat runs with 1 thread and with --threads, their ratio, CPU time
and peak resident size. Targets: with 2 threads the folder takes at most 0.6 times the wall
time of 1 thread and the workbook less than 1 thread's; peak memory under 64 MB per thread.
Wall time on a machine busy with other work mostly measures that work: compare the CPU times
too, and run it on a quiet machine.
"""
import argparse
import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_big_workbook  # noqa: E402
from timing import best_of  # noqa: E402


def compare(label, cli, source, work, threads, repeat):
    out = os.path.join(work, "out")
    one = best_of(repeat, [cli, source, out], 1)
    many = best_of(repeat, [cli, source, out], threads)
    print(f"{label}:")
    for count, (wall, cpu, peak) in ((1, one), (threads, many)):
        print(f"  {count} thread{'s' if count > 1 else ' '}: {wall:6.2f} s wall, {cpu:6.2f} s CPU, "
              f"peak {peak:4.0f} MB ({peak / count:.0f} MB per thread)")
    print(f"  wall time with {threads} threads: {many[0] / one[0]:.2f} of 1 thread's")
    return one, many


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tabrendcli", default=os.path.join(HERE, "..", "build", "bin", "tabrendcli"))
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--books", type=int, default=200)
    parser.add_argument("--book-sheets", type=int, default=5)
    parser.add_argument("--book-rows", type=int, default=200)
    arguments = parser.parse_args()
    print(f"cores: {os.cpu_count()}, load average {os.getloadavg()[0]:.1f}")

    work = tempfile.mkdtemp(prefix="tabrend-threads-")
    try:
        folder = os.path.join(work, "books")
        os.mkdir(folder)
        for n in range(arguments.books):
            make_big_workbook.write(os.path.join(folder, f"Book{n:04d}.xlsx"), arguments.book_sheets,
                                    arguments.book_rows, 8, seed=n)
        compare(f"folder of {arguments.books} workbooks, {arguments.book_sheets} sheets x "
                f"{arguments.book_rows} rows each (target: at most 0.6)", arguments.tabrendcli, folder, work,
                arguments.threads, arguments.repeat)
        source = os.path.join(work, "Sales.xlsx")
        make_big_workbook.write(source, 8, 20000, 8)
        compare("one workbook of 8 sheets x 20,000 rows (target: below 1)", arguments.tabrendcli, source, work,
                arguments.threads, arguments.repeat)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
