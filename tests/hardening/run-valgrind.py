#!/usr/bin/env python3
"""Runs every native test under valgrind memcheck, each in a process of its
own as ctest runs it, following the programs the tests start. Any memcheck
error or definite leak, in a test or in a program it started, fails the
run. The real-JDK suite is left out: HotSpot under memcheck is slow and
reports on its own internals.

    tests/hardening/run-valgrind.py [build directory, default build/native] [--jobs 2]
"""

import argparse
import concurrent.futures
import glob
import json
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
LEFT_OUT = re.compile(r"(^|/)RealJvmTest\.|^realjvm_tests")
# Valgrind starts a followed child with the program's path as argv[0], so
# tests of what a program prints for its own argv[0] run without following.
NOT_FOLLOWED = re.compile(r"^ConsoleProgram\.PrintsTheUsageText")


def tests_of(build):
    listing = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"], check=True,
                             capture_output=True, text=True).stdout
    for test in json.loads(listing)["tests"]:
        if "command" not in test or LEFT_OUT.search(test["name"]):
            continue
        directory = next((p["value"] for p in test.get("properties", []) if p["name"] == "WORKING_DIRECTORY"), build)
        yield test["name"], directory, test["command"]


def run_under_memcheck(name, directory, command, logs, number):
    log_stem = os.path.join(logs, "%03d" % number)
    valgrind = ["valgrind", "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
                "--errors-for-leak-kinds=definite", "--show-leak-kinds=definite",
                "--trace-children=%s" % ("no" if NOT_FOLLOWED.search(name) else "yes"),
                "--child-silent-after-fork=yes",
                "--suppressions=%s" % os.path.join(HERE, "valgrind.supp"),
                "--log-file=%s.%%p.log" % log_stem]
    with open(log_stem + ".out", "w") as output:
        output.write("%s\n" % name)
        output.flush()
        result = subprocess.run(valgrind + command, cwd=directory, stdout=output, stderr=subprocess.STDOUT)
    failing_logs = []
    for log in glob.glob(log_stem + ".*.log"):
        with open(log) as text:
            content = text.read()
        if re.search(r"ERROR SUMMARY: [1-9]|definitely lost: [1-9]", content):
            failing_logs.append(log)
    return name, result.returncode, log_stem + ".out", failing_logs


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build", nargs="?", default=os.path.join(SOURCE, "build", "native"))
    parser.add_argument("--jobs", type=int, default=2)
    arguments = parser.parse_args()
    build = os.path.abspath(arguments.build)
    logs = os.path.join(build, "valgrind-logs")
    shutil.rmtree(logs, ignore_errors=True)
    os.makedirs(logs)

    tests = list(tests_of(build))
    print("memcheck over %d tests, %d at a time; logs in %s" % (len(tests), arguments.jobs, logs), flush=True)
    failures = 0
    with concurrent.futures.ThreadPoolExecutor(arguments.jobs) as pool:
        runs = [pool.submit(run_under_memcheck, name, directory, command, logs, number)
                for number, (name, directory, command) in enumerate(tests)]
        for run in concurrent.futures.as_completed(runs):
            name, exit_code, output, failing_logs = run.result()
            if exit_code == 0 and not failing_logs:
                continue
            failures += 1
            print("FAILED %s: exit code %d, output %s, memcheck logs %s" % (name, exit_code, output, failing_logs),
                  flush=True)
    print("memcheck: %s" % ("no errors" if failures == 0 else "%d tests FAILED" % failures))
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
