#!/usr/bin/env python3
"""Mutation testing of src/: plants one small fault at a time in a scratch
copy of the tree, builds the test suite that covers the fault's folder, and
counts the faults the suite notices.

  python3 tools/mutation/mutate.py --mutants 150 --seed 17

A mutant of src/<dir>/x.cpp is built into test_<dir> and run there; a
mutant that builds and passes its folder's suite is then run against each
suite given by --also (test_system by default), so the figures say both what
the unit suite of the folder catches and what the whole scenario suite adds.
A mutant is killed when a suite fails or runs past its timeout, stillborn
when it does not compile (not counted in the kill rate), and survives
otherwise.
"""

import argparse
import csv
import os
import random
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mutant_rules  # noqa: E402
import report  # noqa: E402
from scratch_tree import ScratchBuild, source_files  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
MUTATED_SUFFIXES = (".cpp", ".c")
BUILD_TIMEOUT = 900


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--mutants", type=int, default=int(os.environ.get("MUTANTS", 200)),
                   help="how many mutants to sample (env MUTANTS, default 200)")
    p.add_argument("--seed", type=int, default=int(os.environ.get("SEED", 17)),
                   help="sampling seed (env SEED, default 17)")
    p.add_argument("--workdir", default=os.path.join(REPO, "build-mutation"),
                   help="scratch tree, build and results (default build-mutation)")
    p.add_argument("--only", default="",
                   help="mutate only files whose path contains this text, e.g. src/events")
    p.add_argument("--also", default="test_system",
                   help="comma-separated suites run on the folder suite's survivors ('' for none)")
    p.add_argument("--jobs", type=int, default=2, help="build jobs")
    p.add_argument("--list", action="store_true", help="print the sampled mutants and stop")
    p.add_argument("--resume", action="store_true",
                   help="keep the mutants already in the results file and run the rest")
    return p.parse_args()


# The Windows back end is not built here: its mutants could only survive.
NOT_BUILT_HERE = ("src/platform/win32/",)


def all_mutants(only):
    files = [f for f in source_files(REPO)
             if f.startswith("src/") and f.endswith(MUTATED_SUFFIXES) and only in f
             and not f.startswith(NOT_BUILT_HERE)]
    found = []
    for rel in files:
        with open(os.path.join(REPO, rel)) as f:
            found.extend(mutant_rules.find_mutants(rel, f.read()))
    return files, found


def suites_of(mutant, also):
    """The folder's own suite (when tests/<folder> exists), then the others.
    A folder without a suite of its own (src/core) goes to the others only."""
    own = ["test_" + mutant.folder] if os.path.isdir(os.path.join(REPO, "tests", mutant.folder)) else []
    return own + [s for s in also if s not in own]


def baseline(build, suites):
    """Builds and runs each suite once on the unmutated tree; a suite that
    fails here would kill every mutant, so the run stops. Returns the
    per-suite timeout: three times the clean run plus ten seconds."""
    timeouts = {}
    for suite in suites:
        built = build.build_target(suite, BUILD_TIMEOUT)
        if not built.ok:
            sys.exit(f"the unmutated tree does not build {suite}:\n{built.output[-3000:]}")
        clean = build.run_suite(suite, 600)
        if not clean.ok:
            sys.exit(f"{suite} fails on the unmutated tree:\n{clean.output[-3000:]}")
        timeouts[suite] = max(20.0, 3 * clean.seconds + 10)
        print(f"baseline {suite}: {clean.seconds:.1f} s, timeout {timeouts[suite]:.0f} s",
              flush=True)
    return timeouts


def try_mutant(build, mutant, suites, timeouts):
    """Plants the mutant, runs the suites in order, and always restores the
    file. Returns (status, suite that killed it or '')."""
    original = build.read(mutant.path)
    lines = original.split("\n")
    assert lines[mutant.line - 1] == mutant.original, "the tree changed under the run"
    lines[mutant.line - 1] = mutant.mutated
    build.write(mutant.path, "\n".join(lines))
    try:
        for suite in suites:
            built = build.build_target(suite, BUILD_TIMEOUT)
            if not built.ok:
                return "stillborn", ""
            result = build.run_suite(suite, timeouts[suite])
            if result.timed_out:
                return "timeout", suite
            if not result.ok:
                return "killed", suite
        return "survived", ""
    finally:
        build.write(mutant.path, original)


def stop(*_):
    raise KeyboardInterrupt


def read_done(path):
    if not os.path.exists(path):
        return {}
    with open(path, newline="") as f:
        return {int(r["id"]): r for r in csv.DictReader(f, delimiter="\t")}


def main():
    args = parse_args()
    files, mutants = all_mutants(args.only)
    count = min(args.mutants, len(mutants))
    chosen = sorted(random.Random(args.seed).sample(range(len(mutants)), count))
    print(f"{len(mutants)} possible mutants in {len(files)} files; "
          f"sampling {count} with seed {args.seed}", flush=True)
    if args.list:
        for i in chosen:
            m = mutants[i]
            print(f"{i}\t{m.path}:{m.line}\t{m.rule}\t{m.mutated.strip()}")
        return

    os.makedirs(args.workdir, exist_ok=True)
    stem = f"seed{args.seed}-n{count}" + (f"-{args.only.replace('/', '_')}" if args.only else "")
    results_path = os.path.join(args.workdir, f"results-{stem}.tsv")
    done = read_done(results_path) if args.resume else {}
    for i, row in done.items():
        if i >= len(mutants) or mutants[i].mutated.strip() != row["mutated"]:
            sys.exit(f"{results_path} was drawn from another src/; run without --resume")
    also = [s for s in args.also.split(",") if s]

    build = ScratchBuild(REPO, args.workdir, args.jobs)
    build.prepare()
    signal.signal(signal.SIGTERM, stop)
    own_suites = sorted({s for i in chosen for s in suites_of(mutants[i], [])})
    timeouts = baseline(build, own_suites + [s for s in also if s not in own_suites])

    started = time.monotonic()
    with open(results_path, "a" if done else "w", newline="") as out:
        writer = csv.writer(out, delimiter="\t", lineterminator="\n")
        if not done:
            writer.writerow(report.COLUMNS)
        for n, i in enumerate(chosen, 1):
            if i in done:
                continue
            m = mutants[i]
            t0 = time.monotonic()
            status, killer = try_mutant(build, m, suites_of(m, also), timeouts)
            seconds = time.monotonic() - t0
            writer.writerow([i, m.path, m.line, m.rule, status, killer, f"{seconds:.1f}",
                             m.original.strip(), m.mutated.strip()])
            out.flush()
            print(f"[{n}/{count}] {status:9} {killer:16} {seconds:6.1f}s  "
                  f"{m.path}:{m.line} {m.rule}", flush=True)
    print(f"\n{count} mutants in {time.monotonic() - started:.0f} s "
          f"(this run; resumed rows not timed)\n")
    summary = report.summarise(results_path)
    print(summary)
    with open(os.path.join(args.workdir, f"summary-{stem}.txt"), "w") as f:
        f.write(summary)


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted: the scratch tree's file was restored; --resume continues")
