"""Many workbooks split in one tabrendcli run, read back from its run report.

One run instead of one per workbook: the workbooks whose results need calculating share one
LibreOffice start, as in any folder or list run, where separate runs would start it once each.
"""

import json
import os
import subprocess


class Split:
    """What one run did with one workbook: its report's sheet lines, and why it failed."""

    def __init__(self):
        self.sheets = []   # the report's sheet lines, in order
        self.failures = []  # the reasons of its failed sheets and of its workbook line

    def written(self):
        return [line["output"] for line in self.sheets if line["status"] == "written"]

    def losses(self):
        """{output file name: [what its copy could not keep]}, as /verbose=1 gives them."""
        return {os.path.basename(line["output"]): line["losses"] for line in self.sheets
                if line["status"] == "written" and line["losses"]}


def split_list(cli, sources, out, work, *switches, timeout=3600):
    """Splits sources (paths) into out, each in its subfolder, in one run; {source: Split}.
    The list and the report are written in work."""
    sources = [os.path.abspath(source) for source in sources]
    listing, report = os.path.join(work, "sources.txt"), os.path.join(work, "report.jsonl")
    with open(listing, "w", encoding="utf-8") as fh:
        fh.write("".join(source + "\n" for source in sources))
    os.makedirs(out, exist_ok=True)
    done = subprocess.run([cli, "@" + listing, out, "/report=" + report] + list(switches),
                          capture_output=True, text=True, timeout=timeout)
    splits = {source: Split() for source in sources}
    lines = []
    if os.path.exists(report):
        with open(report, encoding="utf-8") as fh:
            lines = [json.loads(line) for line in fh if line.strip()]
    if not lines or lines[-1]["record"] != "summary" or lines[-1]["stopped"]:
        raise RuntimeError("the run over %d workbooks was cut short (exit %d): %s"
                           % (len(sources), done.returncode, done.stderr.strip()[-2000:]))
    for line in lines[:-1]:
        split = splits[line["source"]]
        if line["record"] == "sheet":
            split.sheets.append(line)
        if line["status"] == "failed":
            split.failures.append(line["reason"])
    return splits
