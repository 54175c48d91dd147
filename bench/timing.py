"""Timing one program run, or the best of several, for the benchmarks."""
import os
import shutil
import statistics
import subprocess
import sys
import time


def run(command, threads=None):
    """Runs a command (with TABREND_THREADS=threads when given); returns (wall seconds, CPU
    seconds, peak resident MB).

    CPU time (user + system) is reported beside wall time because it stays meaningful on a
    busy machine, where wall time mostly measures the other programs."""
    environment = dict(os.environ, TABREND_THREADS=str(threads)) if threads else None
    start = time.perf_counter()
    process = subprocess.Popen(command, env=environment)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(command)}")
    return elapsed, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def runs_of(runs, command, threads=None):
    """Each run's (wall, CPU, peak) of several runs of a split into the emptied folder command[2]."""
    results = []
    for _ in range(runs):
        shutil.rmtree(command[2], ignore_errors=True)
        os.mkdir(command[2])
        results.append(run(command, threads))
    return results


def best_of(runs, command, threads=None):
    """(best wall, best CPU, highest peak) of several runs of a split: on a shared machine one
    run mostly measures the other programs, and the best comes closest to what the program
    itself costs."""
    results = runs_of(runs, command, threads)
    return min(r[0] for r in results), min(r[1] for r in results), max(r[2] for r in results)


def median_of(runs, command, threads=None):
    """(median wall, median CPU, highest peak) of several runs of a split: the figure a target
    is judged by, which one lucky or unlucky run on a shared machine does not move."""
    results = runs_of(runs, command, threads)
    return (statistics.median([r[0] for r in results]), statistics.median([r[1] for r in results]),
            max(r[2] for r in results))
