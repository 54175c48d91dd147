#!/usr/bin/python3
"""Benchmark: workbooks per second of tabrend-dask on a local cluster of one and of two
workers, against tabrendcli @LIST on one machine, on a list of small workbooks; and what
that gives for a million workbooks on 50 workers of 16 cores.

    dask_bench.py [--tabrendcli build/bin/tabrendcli] [--books 200] [--runs 3]

Prints, for the same generated workbooks (5 sheets x 200 rows x 8 columns each):
- tabrendcli @LIST on one thread and on every core;
- tabrend-dask with 1 and 2 worker processes: the rate once the cluster runs (the best of
  --runs), and the whole command with the cluster's start;
- the rate of empty tasks through the same client, what the scheduler alone allows;
- the extrapolation: the wall time of 1,000,000 such workbooks on 50 x 16 cores, the largest
  of the compute time (the measured rate of one worker, per core, times 800 cores), the
  scheduler's time (one task per workbook) and the shared file system's (bytes read and
  written at --fs-gbps).
"""
import argparse
import importlib.machinery
import logging
import os
import shutil
import subprocess
import sys
import tempfile
import time
import types

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_big_workbook  # noqa: E402
from timing import best_of  # noqa: E402

RECIPE = os.path.join(HERE, "..", "CMD", "tabrend-dask")


def load_recipe():
    loader = importlib.machinery.SourceFileLoader("tabrend_dask", RECIPE)
    module = types.ModuleType("tabrend_dask")
    module.__file__ = RECIPE
    loader.exec_module(module)
    return module


def folder_bytes(folder):
    return sum(os.path.getsize(os.path.join(top, name)) for top, _, names in os.walk(folder) for name in names)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tabrendcli", default=os.path.join(HERE, "..", "build", "bin", "tabrendcli"))
    parser.add_argument("--books", type=int, default=200)
    parser.add_argument("--runs", type=int, default=3, help="runs of each, the best counted")
    parser.add_argument("--fs-gbps", type=float, default=1.0, help="shared file system throughput, GB/s, "
                                                                  "for the extrapolation")
    arguments = parser.parse_args()
    program = os.path.abspath(arguments.tabrendcli)
    recipe = load_recipe()
    from dask.distributed import Client, LocalCluster

    print(f"cores: {os.cpu_count()}, load average at start: {os.getloadavg()[0]:.1f}")
    work = tempfile.mkdtemp(prefix="tabrend-dask-bench-")
    try:
        books = os.path.join(work, "books")
        os.mkdir(books)
        for n in range(arguments.books):
            make_big_workbook.write(os.path.join(books, f"Book{n:04d}.xlsx"), 5, 200, 8, seed=n)
        listing = os.path.join(work, "books.txt")
        with open(listing, "w") as text:
            text.writelines(f"books/Book{n:04d}.xlsx\n" for n in range(arguments.books))
        output = os.path.join(work, "out")
        count = arguments.books

        one_thread, _, _ = best_of(arguments.runs, [program, "@" + listing, output], threads=1)
        every_core, _, _ = best_of(arguments.runs, [program, "@" + listing, output])
        read, written = folder_bytes(books) / count, folder_bytes(output) / count
        print(f"tabrendcli @LIST: {count / one_thread:.1f} workbooks/s on one thread, "
              f"{count / every_core:.1f} on every core ({read / 1024:.0f} KB read, "
              f"{written / 1024:.0f} KB written per workbook)")

        rates = {}
        for workers in (1, 2):
            with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                              dashboard_address=None, silence_logs=logging.ERROR) as cluster:
                options = argparse.Namespace(scheduler=cluster.scheduler_address, workers=None,
                                             tabrendcli=program, switches=[])
                best = None
                for _ in range(arguments.runs):
                    shutil.rmtree(output, ignore_errors=True)
                    os.mkdir(output)
                    tasks = recipe.plan(recipe.read_list(listing, open(listing, "rb")), output + "/")
                    started = time.perf_counter()
                    assert recipe.run(options, tasks, recipe.MergedReport(None))
                    elapsed = time.perf_counter() - started
                    best = elapsed if best is None else min(best, elapsed)
                rates[workers] = count / best
                if workers == 2:
                    with Client(cluster.scheduler_address) as client:
                        client.gather(client.map(abs, range(count), pure=False))  # warm up
                        started = time.perf_counter()
                        client.gather(client.map(abs, range(2000), pure=False))
                        empty_rate = 2000 / (time.perf_counter() - started)
            shutil.rmtree(output, ignore_errors=True)
            os.mkdir(output)
            started = time.perf_counter()
            subprocess.run([sys.executable, RECIPE, listing, output, "--workers", str(workers), "--tabrendcli",
                            program], check=True)
            whole = time.perf_counter() - started
            print(f"tabrend-dask, {workers} worker{'s' if workers > 1 else ''}: {rates[workers]:.1f} workbooks/s "
                  f"once the cluster runs (best of {arguments.runs}); the whole command {whole:.1f} s, "
                  f"{count / whole:.1f} workbooks/s")
        print(f"two workers over one: {rates[2] / rates[1]:.2f} times the rate")
        print(f"empty tasks through the scheduler: {empty_rate:.0f} tasks/s (sharing the 2 cores with its workers)")

        total, cores = 1_000_000, 50 * 16
        compute = total / (rates[1] * cores)
        scheduling = total / empty_rate
        storage = total * (read + written) / (arguments.fs_gbps * 1e9)
        print(f"1,000,000 workbooks on 50 workers x 16 cores: compute {compute / 60:.1f} min "
              f"(one worker's rate on each of 800 cores), scheduler {scheduling / 60:.1f} min "
              f"(one task per workbook at the rate above), file system {storage / 60:.1f} min "
              f"({(read + written) * total / 1e9:.0f} GB at {arguments.fs_gbps:g} GB/s): "
              f"about {max(compute, scheduling, storage) / 60:.0f} min, bound by the "
              f"{max((compute, 'compute'), (scheduling, 'scheduler'), (storage, 'file system'))[1]}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
