"""A copy of the developer's tree, with its own build folder, where mutants
are planted one at a time. The developer's files are only ever read: an
interrupted run leaves at worst one mutated file in the copy, and the next
run's sync puts it right."""

import os
import shutil
import subprocess
import time
from dataclasses import dataclass


def source_files(repo):
    """The tracked and the new, not ignored files of the developer's tree."""
    out = subprocess.run(["git", "-C", repo, "ls-files", "-co", "--exclude-standard", "-z"],
                         check=True, capture_output=True).stdout.decode()
    return sorted(f for f in out.split("\0") if f and os.path.isfile(os.path.join(repo, f)))


def sync_tree(repo, tree, build_name):
    """Makes `tree` hold exactly the developer's files. A file is rewritten
    only when its bytes differ, so the incremental build stays incremental."""
    wanted = set(source_files(repo))
    for rel in wanted:
        src, dst = os.path.join(repo, rel), os.path.join(tree, rel)
        with open(src, "rb") as f:
            data = f.read()
        if os.path.exists(dst):
            with open(dst, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        with open(dst, "wb") as f:
            f.write(data)
        shutil.copymode(src, dst)
    for root, dirs, files in os.walk(tree):
        if root == tree:
            dirs[:] = [d for d in dirs if d != build_name]
        for name in files:
            rel = os.path.relpath(os.path.join(root, name), tree)
            if rel not in wanted:
                os.remove(os.path.join(root, name))


@dataclass
class Outcome:
    ok: bool
    timed_out: bool
    seconds: float
    output: str


def run(cmd, timeout, cwd=None, env=None):
    """Runs a command in its own process group, which is killed whole on a
    timeout so no test process outlives its mutant."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=timeout)
        return Outcome(proc.returncode == 0, False, time.monotonic() - start,
                       out.decode(errors="replace"))
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, 9)
        out, _ = proc.communicate()
        return Outcome(False, True, time.monotonic() - start, out.decode(errors="replace"))
    except BaseException:
        os.killpg(proc.pid, 9)
        proc.wait()
        raise


class ScratchBuild:
    def __init__(self, repo, workdir, jobs):
        self.repo = repo
        self.tree = os.path.join(os.path.abspath(workdir), "tree")
        # The build folder sits where the developer's does (tree/build), so
        # compiler-cache entries of the unchanged files are shared.
        self.build_name = "build"
        self.build = os.path.join(self.tree, self.build_name)
        self.jobs = jobs

    def prepare(self):
        os.makedirs(self.tree, exist_ok=True)
        sync_tree(self.repo, self.tree, self.build_name)
        if not os.path.exists(os.path.join(self.build, "build.ninja")):
            subprocess.run(["cmake", "-S", self.tree, "-B", self.build, "-G", "Ninja",
                            "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DKZ_BUILD_BENCH=OFF"],
                           check=True, stdout=subprocess.DEVNULL)

    def build_target(self, target, timeout):
        return run(["cmake", "--build", self.build, "-j", str(self.jobs), "--target", target],
                   timeout)

    def run_suite(self, suite, timeout, gtest_filter=None):
        env = dict(os.environ, KZ_TARN_SOURCE_DIR=self.tree, KZ_TARN_BINARY_DIR=self.build)
        cmd = [os.path.join(self.build, suite), "--gtest_fail_fast", "--gtest_brief=1"]
        if gtest_filter:
            cmd.append("--gtest_filter=" + gtest_filter)
        return run(cmd, timeout, cwd=self.build, env=env)

    def read(self, rel):
        with open(os.path.join(self.tree, rel)) as f:
            return f.read()

    def write(self, rel, text):
        with open(os.path.join(self.tree, rel), "w") as f:
            f.write(text)
