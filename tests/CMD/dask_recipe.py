#!/usr/bin/python3
"""tabrend-dask against one machine: a list of 40 workbooks split on a local Dask cluster of
two worker processes, one of them killed while it runs a split, writes the very files and
report lines `tabrendcli @LIST` writes; and a second run on an existing cluster with
/overwrite=0 resumes, skipping every sheet.

    dask_recipe.py --tabrendcli build/bin/tabrendcli --recipe CMD/tabrend-dask
"""
import argparse
import filecmp
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "bench"))
import make_big_workbook  # noqa: E402


def parents():
    """{pid: parent pid} of every process."""
    result = {}
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as stat:
                result[int(entry)] = int(stat.read().rsplit(")", 1)[1].split()[1])
        except (ValueError, OSError, IndexError):
            pass
    return result


def program_of(pid):
    try:
        return os.readlink(f"/proc/{pid}/exe")
    except OSError:
        return ""


def same_tree(left, right):
    """Names and bytes of every file below two folders; the differences, or nothing."""
    differences = []
    comparison = filecmp.dircmp(left, right)
    differences += [os.path.join(left, name) for name in comparison.left_only + comparison.right_only]
    for name in comparison.common_files:
        if not filecmp.cmp(os.path.join(left, name), os.path.join(right, name), shallow=False):
            differences.append(os.path.join(left, name))
    for name in comparison.common_dirs:
        differences += same_tree(os.path.join(left, name), os.path.join(right, name))
    return differences


def lines_of(path):
    with open(path, encoding="utf-8") as text:
        return text.read().splitlines()


def check(condition, message):
    if not condition:
        sys.exit(f"dask_recipe: {message}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tabrendcli", required=True)
    parser.add_argument("--recipe", required=True)
    arguments = parser.parse_args()
    tabrendcli = os.path.realpath(arguments.tabrendcli)
    recipe = os.path.realpath(arguments.recipe)

    with tempfile.TemporaryDirectory(prefix="tabrend-dask-test-") as work:
        os.chdir(work)
        for folder in ("books", "more", "lists", "alone", "cluster"):
            os.mkdir(folder)
        names = []
        for n in range(38):
            make_big_workbook.write(f"books/Book{n:02d}.xlsx", 3, 100, 6, seed=n)
            names.append(f"../books/Book{n:02d}.xlsx")
        # A second Book07 takes the folder Book07_2; a file that is no workbook fails alone.
        make_big_workbook.write("more/Book07.xlsx", 2, 50, 4, seed=99)
        with open("more/Broken.xlsx", "w") as broken:
            broken.write("not a workbook")
        with open("lists/run.txt", "w") as listing:
            listing.write("# forty workbooks\n" + "\n".join(names[:20]) + "\n\n../more/Book07.xlsx\n"
                          + "\n".join(names[20:]) + "\n../more/Broken.xlsx\n../more/missing.xlsx\n")

        one = subprocess.run([tabrendcli, "@lists/run.txt", "alone", "/report=alone.jsonl"])
        check(one.returncode == 1, f"tabrendcli @LIST exited with {one.returncode}")

        started = time.monotonic()
        run = subprocess.Popen([sys.executable, recipe, "lists/run.txt", "cluster", "--workers", "2",
                                   "--tabrendcli", tabrendcli, "--report", "cluster.jsonl"],
                                  stderr=subprocess.PIPE)
        # Kill a worker while it runs a split: the worker is the split's parent, a child of the recipe.
        killed = split = None
        while killed is None and run.poll() is None:
            tree = parents()
            for pid, parent in tree.items():
                if tree.get(parent) == run.pid and program_of(pid) == tabrendcli:
                    os.kill(parent, signal.SIGKILL)
                    killed, split = parent, pid
                    break
            time.sleep(0.005)
        _, said = run.communicate(timeout=600)
        elapsed = time.monotonic() - started
        check(killed is not None, "the run ended before a worker was seen at work")
        check(not os.path.exists(f"/proc/{split}") or program_of(split) != tabrendcli,
              "the split outlived its killed worker")
        check(run.returncode == 1, f"tabrend-dask exited with {run.returncode}: {said.decode()}")

        differences = same_tree("alone", "cluster")
        check(not differences, f"the cluster's outputs differ from one machine's: {differences[:5]}")
        check(os.path.isdir("cluster/Book07_2"), "the second Book07 has no folder of its own")
        alone, cluster = lines_of("alone.jsonl"), lines_of("cluster.jsonl")
        alone = [line.replace('"output":"alone/', '"output":"cluster/') for line in alone]
        # Every sheet once, in lines equal to one machine's; the summaries agree too.
        check(sorted(alone[:-1]) == sorted(cluster[:-1]), "the merged report's lines differ from one machine's: "
              f"{sorted(set(alone[:-1]) ^ set(cluster[:-1]))[:4]}")
        sheets = [json.loads(line) for line in cluster if json.loads(line)["record"] == "sheet"]
        check(len({(sheet["source"], sheet["index"]) for sheet in sheets}) == len(sheets) == 38 * 3 + 2,
              f"{len(sheets)} sheet lines")
        check(json.loads(alone[-1]) == json.loads(cluster[-1]), f"summaries {alone[-1]} and {cluster[-1]}")

        # Resumed on an existing cluster with /overwrite=0: nothing left to write.
        from dask.distributed import LocalCluster
        with LocalCluster(n_workers=1, processes=False, protocol="tcp", host="127.0.0.1",
                          dashboard_address=None, local_directory=os.path.join(work, "space")) as existing:
            again = subprocess.run([sys.executable, recipe, "lists/run.txt", "cluster", "/overwrite=0",
                                    "--scheduler", existing.scheduler_address, "--tabrendcli", tabrendcli,
                                    "--report", "again.jsonl"], stderr=subprocess.PIPE)
        check(again.returncode == 1, f"the resumed run exited with {again.returncode}: {again.stderr.decode()}")
        summary = json.loads(lines_of("again.jsonl")[-1])
        check((summary["written"], summary["skipped"]) == (0, 38 * 3 + 2), f"resumed: {summary}")
        check(not same_tree("alone", "cluster"), "the resumed run changed an output")
        print(f"dask_recipe: 40 workbooks on two workers, one killed, in {elapsed:.1f} s: "
              f"the same {len(sheets)} outputs and report lines as one machine; resumed writing nothing")


if __name__ == "__main__":
    main()
