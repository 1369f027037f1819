#!/usr/bin/env python3
"""How fast the service's output log takes what a kernel prints.

A kernel thread prints short lines through System.out (1,000,000 by
default), on the machine's JDK, through the kernel driver (the host's start
and stop, as the programs make them):

  log      as a service: standard output goes through the host's pipe and
           its thread into <home>/logs/AlderSvc.log
  console  as a console run whose standard output is redirected to a file

Each run's time less that of a run printing nothing gives the printing's
own time; the medians give lines per second. The log must keep up within a
factor of 1.5 of the console's file.

    tests/bench/output_log_bench.py --build build/bench --runs 5
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))

import halvern_install  # noqa: E402

LIMIT = 1.5


def parse_arguments():
    here = os.path.dirname(os.path.abspath(__file__))
    source = os.path.dirname(os.path.dirname(here))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(source, "build", "native"),
                        help="a native build tree with tests (a Release one for figures)")
    parser.add_argument("--jdk", default=os.environ.get("JAVA_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
    parser.add_argument("--runs", type=int, default=5, help="timed runs of each kind (after one warm-up run)")
    parser.add_argument("--lines", type=int, default=1000000)
    return parser.parse_args()


def need(path):
    if not os.path.exists(path):
        sys.exit("missing: %s (build the tree first)" % path)
    return path


def timed_run(tree, mode, lines):
    """Seconds the driver takes to start the kernel, have it print and stop
    it; the lines it printed are checked to be all there."""
    with open(os.path.join(tree.bin_dir, "alder.init"), "wb") as f:
        f.write(b"-Dbench.lines=%d\n" % lines)
    log = os.path.join(os.path.dirname(tree.bin_dir), "logs", "AlderSvc.log")
    console = os.path.join(os.path.dirname(tree.bin_dir), "console.txt")
    for path in (log, console):
        if os.path.exists(path):
            os.remove(path)
    with open(console, "wb") as output:
        began = time.perf_counter()
        done = subprocess.run([tree.program, "servicelog" if mode == "log" else "console"], cwd=tree.bin_dir,
                              stdout=output, stderr=subprocess.DEVNULL)
        took = time.perf_counter() - began
    with open(log if mode == "log" else console, "rb") as f:
        text = f.read()
    if done.returncode != 0 or (lines > 0 and b"\nline %d\n" % (lines - 1) not in text):
        sys.exit("%s run of %d lines failed (exit %d)" % (mode, lines, done.returncode))
    return took


def main():
    arguments = parse_arguments()
    driver = need(os.path.join(arguments.build, "tests", "host", "kernel_driver"))
    jar = need(os.path.join(arguments.build, "tests", "bench", "printing-kernel", "kernel.jar"))
    libjvm = need(os.path.join(arguments.jdk, "lib", "server", "libjvm.so"))
    with tempfile.TemporaryDirectory(prefix="halvern-output-log-bench-") as scratch:
        tree = halvern_install.lay_out(scratch, driver, jvm=libjvm, link_jvm=True, jars={"kernel.jar": jar},
                                       windows_jar_links=True)
        times = {(mode, lines): [] for mode in ("log", "console") for lines in (0, arguments.lines)}
        for run in range(arguments.runs + 1):
            for mode in (("log", "console") if run % 2 == 0 else ("console", "log")):
                for lines in (0, arguments.lines):
                    took = timed_run(tree, mode, lines)
                    if run > 0:
                        times[(mode, lines)].append(took)
    rates = {}
    for mode in ("log", "console"):
        printing = statistics.median(times[(mode, arguments.lines)]) - statistics.median(times[(mode, 0)])
        rates[mode] = arguments.lines / printing
        print("%-8s %.0f lines/s (run of %d lines: %.2f s, of none: %.2f s; medians of %d)"
              % (mode, rates[mode], arguments.lines, statistics.median(times[(mode, arguments.lines)]),
                 statistics.median(times[(mode, 0)]), arguments.runs))
    factor = rates["console"] / rates["log"]
    print("the console's file is %.2f times as fast as the log (at most %.1f allowed): %s"
          % (factor, LIMIT, "keeps up" if factor <= LIMIT else "too slow"))
    return 0 if factor <= LIMIT else 1


if __name__ == "__main__":
    sys.exit(main())
