#!/usr/bin/env python3
"""A mutation sample: one-line faults from a list, applied one at a time to a copy of the tree.

Each fault is rebuilt (under the shared build lock, held for a batch of faults; -j2, ccache)
and the test programs it names are run; a fault is caught when one of them fails or runs out of time. The committed tree
is never changed: the copy (default /tmp/veltrane-mutants) is refreshed from the working tree
on every run, build folder aside, and keeps its own build for the next run.

The list holds blocks separated by blank lines; '#' starts a comment line:

    id: net-size-limit
    area: net
    file: platform/posix/Internet.cpp
    from: if (sink->body->size() + bytes > sink->limit) return 0;
    to: if (sink->body->size() + bytes >= sink->limit) return 0;
    tests: net_service_tests net_real_network_tests
    filter: *16MiB*:*Abandon*          (optional: a --gtest_filter for every program)
    env: LD_PRELOAD=libumockdev-preload.so.0   (optional: NAME=VALUE ... the programs need, as ctest sets)

`from` must occur exactly once in the file, unless `occurrence: N` picks the Nth (from 1);
an empty `to` deletes it.

    scripts/mutate.py scripts/mutants.txt [--only ID,...] [--skip FILE] [--results FILE] [--timeout S]
                                          [--batch N]
    scripts/mutate.py scripts/mutants.txt --check

--check builds and runs nothing: it applies each fault to the working tree's text in memory and
lists those whose `from` no longer picks exactly one place (after a layout change, say).
"""
import argparse
import fcntl
import os
import shutil
import subprocess
import sys
import time
from collections import OrderedDict

LOCK = "/tmp/veltrane-build.lock"


def parse(path):
    faults, block = [], {}
    for line in open(path, encoding="utf-8").read().splitlines() + [""]:
        if line.startswith("#"):
            continue
        if not line.strip():
            if block:
                faults.append(block)
            block = {}
            continue
        key, _, value = line.partition(":")
        block[key.strip()] = value.strip()
    for fault in faults:
        missing = [k for k in ("id", "area", "file", "from", "tests") if not fault.get(k)]
        if missing:
            sys.exit("fault %s lacks %s" % (fault.get("id", "?"), ", ".join(missing)))
        fault.setdefault("to", "")
    return faults


def mutate(text, fault):
    """The text with the fault in it, or None when `from` does not pick one place."""
    found = [i for i in range(len(text)) if text.startswith(fault["from"], i)]
    which = int(fault.get("occurrence", "0"))
    if which == 0 and len(found) != 1 or which > len(found):
        return None
    at = found[max(which, 1) - 1]
    return text[:at] + fault["to"] + text[at + len(fault["from"]):]


def check(source, faults):
    """Lists the faults that no longer apply to one place; returns how many there are."""
    bad = 0
    for fault in faults:
        path = os.path.join(source, fault["file"])
        if not os.path.exists(path):
            problem = "no file %s" % fault["file"]
        else:
            text = open(path, encoding="utf-8").read()
            count = text.count(fault["from"])
            if fault["to"] == fault["from"]:
                problem = "'to' is the same as 'from'"
            elif mutate(text, fault) is not None:
                continue
            elif count == 0:
                problem = "'from' no longer matches"
            elif "occurrence" in fault:
                problem = "occurrence %s of %d" % (fault["occurrence"], count)
            else:
                problem = "'from' matches %d places" % count
        print("%-28s %s" % (fault["id"], problem))
        bad += 1
    print("%d of %d faults apply to one place" % (len(faults) - bad, len(faults)))
    return bad


def run(command, cwd, timeout=None, env=None):
    try:
        done = subprocess.run(command, cwd=cwd, env=env, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")
        return done.returncode, done.stdout
    except subprocess.TimeoutExpired:
        return None, "timeout"


class BuildLock:
    """The shared build lock, held for a whole batch of builds."""

    def __enter__(self):
        self.file = open(LOCK, "a")
        fcntl.flock(self.file, fcntl.LOCK_EX)

    def __exit__(self, *_):
        fcntl.flock(self.file, fcntl.LOCK_UN)
        self.file.close()


def build(copy, targets, env):
    """Builds under the lock the caller holds."""
    return run(["cmake", "--build", "build/default", "-j2", "--target"] + targets, copy, env=env)


def tests_fail(copy, fault, timeout, suffix=""):
    """The first program that fails (or times out), or None when all pass."""
    env = dict(os.environ, **dict(pair.split("=", 1) for pair in fault.get("env", "").split()))
    for program in fault["tests"].split():
        command = [os.path.join(copy, "build/default/tests", program + suffix)]
        if fault.get("filter"):
            command.append("--gtest_filter=" + fault["filter"])
        code, _ = run(command, os.path.join(copy, "build/default/tests"), timeout, env)
        if code != 0:
            return program + (" (timeout)" if code is None else "")
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("faults")
    parser.add_argument("--copy", default="/tmp/veltrane-mutants")
    parser.add_argument("--only", default="", help="comma-separated fault ids")
    parser.add_argument("--results", default="mutants.tsv", help="appended to, one line per fault")
    parser.add_argument("--timeout", type=int, default=300, help="seconds per test program")
    parser.add_argument("--batch", type=int, default=8, help="faults built under one hold of the build lock")
    parser.add_argument("--spread", action="store_true", help="take the areas in turn rather than in list order")
    parser.add_argument("--skip", default="", help="a results file: faults listed there are not run again")
    parser.add_argument("--check", action="store_true", help="only list the faults that no longer apply")
    args = parser.parse_args()

    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    copy = os.path.abspath(args.copy)
    faults = parse(args.faults)
    if args.only:
        wanted = set(args.only.split(","))
        faults = [f for f in faults if f["id"] in wanted]
    if args.skip and os.path.exists(args.skip):
        done = {line.split("\t")[0].strip() for line in open(args.skip, encoding="utf-8")}
        faults = [f for f in faults if f["id"] not in done]
    if args.check:
        sys.exit(1 if check(source, faults) else 0)

    if args.spread:
        by_area = OrderedDict()
        for fault in faults:
            by_area.setdefault(fault["area"], []).append(fault)
        faults = [f for turn in range(len(faults)) for f in (a[turn] for a in by_area.values() if turn < len(a))]

    os.makedirs(copy, exist_ok=True)
    # By content, and without the source's times: a file restored after a fault must stay newer
    # than the object its fault left, or the next build would keep that object.
    subprocess.run(["rsync", "-rlp", "--checksum", "--delete", "--exclude", "/build", "--exclude", ".git",
                    source + "/", copy + "/"], check=True)
    # Paths relative to the copy, so that its objects are shared through ccache across copies.
    env = dict(os.environ, CCACHE_BASEDIR=copy, CCACHE_NOHASHDIR="1")
    if not os.path.exists(os.path.join(copy, "build/default/build.ninja")):
        subprocess.run(["cmake", "--preset", "default"], cwd=copy, env=env, check=True, stdout=subprocess.DEVNULL)

    # The unchanged tree must build and pass what every fault runs.
    programs = sorted({p for f in faults for p in f["tests"].split()})
    with BuildLock():
        code, output = build(copy, programs, env)
    if code != 0:
        sys.exit("the unchanged copy does not build:\n" + output[-3000:])
    for program, filter_, env_ in sorted({(p, f.get("filter", ""), f.get("env", ""))
                                          for f in faults for p in f["tests"].split()}):
        failing = tests_fail(copy, {"tests": program, "filter": filter_, "env": env_}, args.timeout)
        if failing:
            sys.exit("%s fails without any fault" % failing)

    # Faults are built in batches under one hold of the lock, each fault's programs kept beside
    # the originals as PROGRAM.mutant; the tests then run with the lock free for others.
    tally = OrderedDict()
    tests_dir = os.path.join(copy, "build/default/tests")
    with open(args.results, "a", encoding="utf-8") as results:
        for first in range(0, len(faults), args.batch):
            batch, built = faults[first:first + args.batch], {}
            with BuildLock():
                for fault in batch:
                    path = os.path.join(copy, fault["file"])
                    original = open(path, encoding="utf-8").read()
                    mutated = mutate(original, fault)
                    if mutated is None:
                        built[fault["id"]] = "SKIPPED: 'from' occurs %d times" % original.count(fault["from"])
                        continue
                    open(path, "w", encoding="utf-8").write(mutated)
                    try:
                        code, _ = build(copy, fault["tests"].split(), env)
                        if code == 0:
                            for program in fault["tests"].split():
                                shutil.copy2(os.path.join(tests_dir, program),
                                             os.path.join(tests_dir, program + ".mutant"))
                                os.rename(os.path.join(tests_dir, program + ".mutant"),
                                          os.path.join(tests_dir, "%s.%s" % (program, fault["id"])))
                        built[fault["id"]] = code == 0
                    finally:
                        open(path, "w", encoding="utf-8").write(original)
            for fault in batch:
                state = built[fault["id"]]
                if isinstance(state, str):
                    print("%-28s %s" % (fault["id"], state))
                    continue
                started = time.time()
                if state:
                    by = tests_fail(copy, fault, args.timeout, "." + fault["id"])
                    verdict = "caught" if by else "NOT CAUGHT"
                    for program in fault["tests"].split():
                        os.remove(os.path.join(tests_dir, "%s.%s" % (program, fault["id"])))
                else:
                    verdict, by = "invalid", "does not build"
                seconds = time.time() - started
                print("%-28s %-10s %-14s %s (%.0f s)" % (fault["id"], verdict, fault["area"], by or "", seconds),
                      flush=True)
                results.write("\t".join([fault["id"], fault["area"], fault["file"], verdict, by or ""]) + "\n")
                results.flush()
                if verdict != "invalid":
                    caught, total = tally.get(fault["area"], (0, 0))
                    tally[fault["area"]] = (caught + (verdict == "caught"), total + 1)

    print("\n| area | caught |\n| --- | --- |")
    for area, (caught, total) in sorted(tally.items()):
        print("| %s | %d/%d |" % (area, caught, total))
    caught = sum(c for c, _ in tally.values())
    total = sum(t for _, t in tally.values())
    if total:
        print("| all | %d/%d (%.0f %%) |" % (caught, total, 100.0 * caught / total))


if __name__ == "__main__":
    main()
