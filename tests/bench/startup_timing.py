#!/usr/bin/env python3
"""Whole-process start-up cost of the service host on the machine's JDK.

Times, side by side and in rotating order, the time from process start to
the kernel's start returning (the line "kernel started" that start prints
as its last act) for:

  host      AlderSvc run, loading the JDK's libjvm.so as server/jvm.dll
  floor     jvm_start_floor: load libjvm, create the VM with the same
            options, find the class, construct it, call start
  launcher  the stock java launcher running the same class's main

and reports medians. Also the host's peak resident size on a run whose
jvm.dll is missing, and the size of each Windows program in a dist folder.

    tests/bench/startup_timing.py --build build/hard-bench --runs 31
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

KERNEL_CLASS = "com.halvern.alder.service.ServerKernel"
MARKER = b"kernel started"


def parse_arguments():
    here = os.path.dirname(os.path.abspath(__file__))
    source = os.path.dirname(os.path.dirname(here))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(source, "build", "native"),
                        help="a native build tree with tests (a Release one for figures)")
    parser.add_argument("--jdk", default=os.environ.get("JAVA_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
    parser.add_argument("--runs", type=int, default=31, help="timed runs of each start (after 3 warm-up runs)")
    parser.add_argument("--dist", default=os.path.join(source, "dist", "win32"),
                        help="folder of the Windows programs whose sizes are listed")
    return parser.parse_args()


def need(path):
    if not os.path.exists(path):
        sys.exit("missing: %s (build the tree first)" % path)
    return path


def make_installation(root, program, libjvm, jar):
    """<root>/bin/AlderSvc, bin/server/jvm.dll (or none), lib/util/kernel.jar;
    returns the installed program."""
    return halvern_install.lay_out(root, program, jvm=libjvm, link_jvm=True, jars={"kernel.jar": jar},
                                   windows_jar_links=True).program


def time_to_started(command, cwd, marker=MARKER):
    """Seconds from launching the command to the first line that starts
    with marker (by default the kernel's line)."""
    start = time.perf_counter()
    child = subprocess.Popen(command, cwd=cwd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)
    child.stdin.write(b"\n")  # the console run's first ENTER, waiting before it asks
    child.stdin.flush()
    elapsed = None
    for line in child.stdout:
        if line.startswith(marker):
            elapsed = time.perf_counter() - start
            break
    try:
        child.stdin.write(b"\n")  # the second ENTER: stop
        child.stdin.close()
    except BrokenPipeError:
        pass
    child.stdout.read()
    child.wait()
    if elapsed is None:
        sys.exit("no '%s' seen from: %s (exit code %d)" % (marker.decode(), " ".join(command), child.returncode))
    return elapsed


def peak_resident_kib_when_waiting(command, cwd, first_input, wait_text):
    """The process's peak resident size (VmHWM) once it has printed wait_text
    and waits for more input. Read from /proc while the process lives: the
    rusage of a child also counts the forking parent's pages before exec."""
    child = subprocess.Popen(command, cwd=cwd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)
    child.stdin.write(first_input)
    child.stdin.flush()
    seen = b""
    while not seen.endswith(wait_text):
        byte = child.stdout.read(1)
        if not byte:
            sys.exit("%s ended before waiting for input" % command[0])
        seen += byte
    with open("/proc/%d/status" % child.pid) as status:
        peak = next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
    child.stdin.close()
    child.stdout.read()
    child.wait()
    return peak, seen


def main():
    arguments = parse_arguments()
    build = os.path.abspath(arguments.build)
    try:
        program = need(halvern_install.load_programs(os.path.join(build, "programs.json")).program("AlderSvc").path)
    except halvern_install.ProgramTableError as error:
        sys.exit(str(error))
    floor = need(os.path.join(build, "tests", "bench", "jvm_start_floor"))
    jar = need(os.path.join(build, "tests", "bench", "timing-kernel", "kernel.jar"))
    libjvm = need(os.path.join(arguments.jdk, "lib", "server", "libjvm.so"))
    java = need(os.path.join(arguments.jdk, "bin", "java"))

    with tempfile.TemporaryDirectory(prefix="startup-timing-") as scratch:
        host = make_installation(os.path.join(scratch, "run"), program, libjvm, jar)
        bin_directory = os.path.dirname(host)
        # The options the host hands a modular VM, the jar named as on Windows
        # (a link of that name in bin leads to it).
        options = ["-Dapplication.home=..", "-Djava.library.path=..\\lib", "-Xbootclasspath/a:..\\lib\\util\\kernel.jar"]
        starts = {
            "host": ([host, "run"], scratch),
            "floor": ([floor, libjvm, KERNEL_CLASS.replace(".", "/")] + options, bin_directory),
            "launcher": ([java] + options + [KERNEL_CLASS], bin_directory),
        }
        names = list(starts)
        times = {name: [] for name in names}
        for round_number in range(arguments.runs + 3):
            order = names[round_number % 3:] + names[:round_number % 3]
            for name in order:
                elapsed = time_to_started(*starts[name])
                if round_number >= 3:
                    times[name].append(elapsed)

        host_without_vm = make_installation(os.path.join(scratch, "missing"), program, None, jar)
        # The host's own work with no VM to create: launch, layout, the failed
        # load, up to the stop prompt (whose line starts with "Running.").
        own_work = statistics.median(
            time_to_started([host_without_vm, "run"], scratch, b"Running.")
            for _ in range(arguments.runs))
        # For scale: the same launch of the smallest C program, to its first line.
        launch_only = statistics.median(time_to_started(["/bin/cat"], scratch, b"\n") for _ in range(arguments.runs))
        # After the failed start the run waits at its stop prompt: by then
        # everything the host does before a VM exists has been done.
        resident = []
        for _ in range(5):
            peak, output = peak_resident_kib_when_waiting([host_without_vm, "run"], scratch,
                                                          b"\n", b"Running. Press <ENTER> to stop\n")
            resident.append(peak)
        # For scale: the smallest C program waiting for input.
        cat_resident = statistics.median(
            peak_resident_kib_when_waiting(["/bin/cat"], scratch, b"ready\n", b"ready\n")[0] for _ in range(5))

    print("Start-up to the kernel's start returning, %d runs each, JDK %s" % (arguments.runs, arguments.jdk))
    print("| start | median ms | min ms | max ms |")
    print("|---|---|---|---|")
    medians = {}
    for name in names:
        medians[name] = statistics.median(times[name])
        print("| %s | %.1f | %.1f | %.1f |" % (name, medians[name] * 1e3, min(times[name]) * 1e3,
                                              max(times[name]) * 1e3))
    # Each round runs the three starts back to back, so the ratio within a
    # round is little disturbed by load that changes between rounds.
    over_floor = (statistics.median(h / f for h, f in zip(times["host"], times["floor"])) - 1) * 100
    over_launcher = (statistics.median(h / j for h, j in zip(times["host"], times["launcher"])) - 1) * 100
    print()
    print("host vs floor, median of the per-round ratios:    %+.1f %% (target: at most +2 %%)" % over_floor)
    print("host vs launcher, median of the per-round ratios: %+.1f %% (target: at most 0 %%)" % over_launcher)
    print("host's own work without a VM (launch to the stop prompt, jvm.dll missing): %.2f ms"
          " (launching /bin/cat to its first line: %.2f ms)" % (own_work * 1e3, launch_only * 1e3))
    print()
    print("Peak resident size of `AlderSvc run` without server/jvm.dll, at its stop prompt: %d KiB"
          " (median of 5; /bin/cat waiting for input: %d KiB)" % (statistics.median(resident), cat_resident))

    if os.path.isdir(arguments.dist):
        print()
        print("Program sizes in %s:" % arguments.dist)
        print("| program | bytes |")
        print("|---|---|")
        for name in sorted(os.listdir(arguments.dist)):
            if name.endswith(".exe"):
                print("| %s | %d |" % (name, os.path.getsize(os.path.join(arguments.dist, name))))

    within_targets = over_floor <= 2.0 and over_launcher <= 0.0
    print()
    print("targets met" if within_targets else "targets NOT met")
    return 0 if within_targets else 1


if __name__ == "__main__":
    sys.exit(main())
