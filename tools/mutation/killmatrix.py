#!/usr/bin/env python3
"""Which tests notice which fault: plants each sampled mutant of one folder
of src/ and runs that folder's whole suite (no fail-fast), writing the tests
that failed. A test that is the only one to fail for some mutant catches a
fault nothing else does; a test that never is, is a candidate for folding.

  python3 tools/mutation/killmatrix.py --only src/events --mutants 60 --seed 23
  python3 tools/mutation/killmatrix.py ... --summary   # the sole catches per test again

Results: <workdir>/matrix-<folder>-seed<S>-n<N>.tsv (mutant id, place,
rule, status, the failed tests), written as each mutant finishes. Use
another seed than the one of the figures in docs/testing.md, so a reshaping
is not fitted to the sample it is judged by.
"""

import argparse
import collections
import os
import random
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mutate import BUILD_TIMEOUT, REPO, all_mutants  # noqa: E402
from scratch_tree import ScratchBuild, run  # noqa: E402


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--only", required=True, help="one folder of src/, e.g. src/events")
    p.add_argument("--mutants", type=int, default=60)
    p.add_argument("--seed", type=int, default=23)
    p.add_argument("--jobs", type=int, default=2)
    p.add_argument("--workdir", default=os.path.join(REPO, "build-killmatrix"))
    p.add_argument("--summary", action="store_true", help="only summarise an existing result")
    return p.parse_args()


def failed_tests(build, suite, timeout):
    env = dict(os.environ, KZ_TARN_SOURCE_DIR=build.tree, KZ_TARN_BINARY_DIR=build.build)
    r = run([os.path.join(build.build, suite), "--gtest_brief=1"], timeout, cwd=build.build, env=env)
    if r.timed_out:
        return "timeout", ["<timeout>"]
    failed = sorted(set(re.findall(r"\[  FAILED  \] ([\w./]+)", r.output)))
    if r.ok:
        return "survived", []
    return "killed", failed or ["<crash>"]


def summarise(path):
    sole, any_ = collections.Counter(), collections.Counter()
    with open(path) as f:
        for line in f:
            tests = [t for t in line.rstrip("\n").split("\t")[4].split(",") if t]
            for t in tests:
                any_[t] += 1
            if len(tests) == 1:
                sole[tests[0]] += 1
    print(f"{'alone':>5} {'with others':>11}  test")
    for t in sorted(any_, key=lambda t: (-sole[t], -any_[t])):
        print(f"{sole[t]:5} {any_[t]:11}  {t}")


def main():
    args = parse_args()
    folder = args.only.rstrip("/").split("/")[-1]
    suite = "test_" + folder
    _, mutants = all_mutants(args.only)
    chosen = sorted(random.Random(args.seed).sample(range(len(mutants)), min(args.mutants, len(mutants))))
    out_path = os.path.join(args.workdir, f"matrix-{folder}-seed{args.seed}-n{len(chosen)}.tsv")
    if args.summary:
        return summarise(out_path)
    build = ScratchBuild(REPO, args.workdir, args.jobs)
    build.prepare()
    if not build.build_target(suite, BUILD_TIMEOUT).ok:
        sys.exit(f"the unmutated tree does not build {suite}")
    status, failed = failed_tests(build, suite, 600)
    if status != "survived":
        sys.exit(f"{suite} fails on the unmutated tree: {failed}")
    with open(out_path, "w") as out:
        for i in chosen:
            m = mutants[i]
            original = build.read(m.path)
            lines = original.split("\n")
            lines[m.line - 1] = m.mutated
            build.write(m.path, "\n".join(lines))
            try:
                if build.build_target(suite, BUILD_TIMEOUT).ok:
                    status, failed = failed_tests(build, suite, 120)
                else:
                    status, failed = "stillborn", []
            finally:
                build.write(m.path, original)
            out.write(f"{i}\t{m.path}:{m.line}\t{m.rule}\t{status}\t{','.join(failed)}\n")
            out.flush()
            print(f"{m.path}:{m.line} {m.rule}: {status} {len(failed)}", flush=True)
    summarise(out_path)


if __name__ == "__main__":
    main()
