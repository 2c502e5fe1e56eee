"""The summary of a results file: kill rates overall, per folder and per
file, and the survivors grouped by file.

  python3 tools/mutation/report.py build-mutation/results-seed17-n150.tsv
"""

import csv
import sys
from collections import defaultdict

COLUMNS = ["id", "path", "line", "rule", "status", "killed_by", "seconds", "original", "mutated"]


def _own_suite(row):
    parts = row["path"].split("/")
    return "test_" + (parts[1] if len(parts) > 2 else parts[0])


class Tally:
    def __init__(self):
        self.viable = self.by_own = self.by_any = self.stillborn = 0

    def add(self, row):
        if row["status"] == "stillborn":
            self.stillborn += 1
            return
        self.viable += 1
        if row["status"] in ("killed", "timeout"):
            self.by_any += 1
            self.by_own += row["killed_by"] == _own_suite(row)

    def line(self, name):
        def pct(k):
            return f"{100 * k / self.viable:5.1f}%" if self.viable else "    -"
        return (f"{name:40} {self.by_own:4} {pct(self.by_own)}   {self.by_any:4} "
                f"{pct(self.by_any)}   {self.viable:4} {self.stillborn:4}")


def summarise(path):
    with open(path, newline="") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    total, folders, files = Tally(), defaultdict(Tally), defaultdict(Tally)
    for r in rows:
        total.add(r)
        folders[r["path"].split("/")[1]].add(r)
        files[r["path"]].add(r)
    timeouts = sum(r["status"] == "timeout" for r in rows)
    seconds = [float(r["seconds"]) for r in rows]
    head = f"{'':40} {'killed by folder suite':>17}   {'+ other suites':>11}   viable stillborn"
    out = [f"mutants: {len(rows)} ({total.stillborn} stillborn, {timeouts} killed by timeout); "
           f"mean {sum(seconds) / max(len(seconds), 1):.1f} s per mutant",
           f"kill rate, folder suite only: {total.by_own}/{total.viable}"
           f" = {100 * total.by_own / max(total.viable, 1):.1f}%",
           f"kill rate, with the other suites: {total.by_any}/{total.viable}"
           f" = {100 * total.by_any / max(total.viable, 1):.1f}%",
           "", head, total.line("all")]
    out += [folders[k].line("src/" + k) for k in sorted(folders)]
    out += ["", head] + [files[k].line(k) for k in sorted(files)]
    out += ["", "survivors (folder suite and other suites both passed):"]
    for r in rows:
        if r["status"] == "survived":
            out.append(f"  {r['path']}:{r['line']}  {r['rule']}\n"
                       f"      - {r['original']}\n      + {r['mutated']}")
    out += ["", "killed only by another suite (the folder suite missed them):"]
    for r in rows:
        if r["status"] in ("killed", "timeout") and r["killed_by"] != _own_suite(r):
            out.append(f"  {r['path']}:{r['line']}  {r['rule']}  [{r['killed_by']}]\n"
                       f"      - {r['original']}\n      + {r['mutated']}")
    return "\n".join(out) + "\n"


def _fates(path):
    with open(path, newline="") as f:
        return {(r["path"], r["line"], r["mutated"]): r["status"]
                for r in csv.DictReader(f, delimiter="\t")}


def compare(new_path, old_path):
    """Mutants found in both files whose survival changed. Mutants are
    matched by file, line and mutated text, so a changed src/ shows fewer."""
    new, old = _fates(new_path), _fates(old_path)
    killed = {"killed", "timeout"}
    now_killed = [k for k in new if k in old and old[k] == "survived" and new[k] in killed]
    now_missed = [k for k in new if k in old and old[k] in killed and new[k] == "survived"]
    out = [f"\nin both runs: {sum(k in old for k in new)} mutants",
           f"survived before, killed now: {len(now_killed)}"]
    out += [f"  {p}:{line}  {m}" for p, line, m in now_killed]
    out += [f"killed before, survive now: {len(now_missed)}"]
    out += [f"  {p}:{line}  {m}" for p, line, m in now_missed]
    return "\n".join(out) + "\n"


if __name__ == "__main__":
    print(summarise(sys.argv[1]), end="")
    if len(sys.argv) > 2:
        print(compare(sys.argv[1], sys.argv[2]), end="")
