#!/usr/bin/env python3
"""One program as a Windows service under Wine, step by step, for people to
read: install, start (with the stand-in VM), query, stop, uninstall, and the
event-log entry of a failed start. Uses the end-to-end driver's Wine helpers;
the checks themselves live in tests/wine. Runs what the win32 or win64 build
made (build/<preset>/programs.json); builds nothing."""

import os
import sys

SOURCE_DIR = os.path.realpath(os.path.join(os.path.dirname(__file__), ".."))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "wine"))

import wine_e2e  # noqa: E402
import halvern_install  # noqa: E402  (tests/support, put on the path by wine_e2e)

PROGRAM = "AlderSvc"
HOME_PARTS = ["Halvern", "Alder"]


def show(title, outcome):
    print("--- %s (exit code %s)" % (title, outcome.code))
    text = outcome.out.decode("latin-1").replace("\r\n", "\n")
    sys.stdout.write(text if text.endswith("\n") or not text else text + "\n")
    if outcome.code != 0:
        errors = [line for line in outcome.err.decode("latin-1").splitlines() if ":fixme:" not in line]
        sys.stdout.write("".join(line.rstrip("\r") + "\n" for line in errors))
        if not text and not errors:
            print("(nothing printed)")
    sys.stdout.flush()


def choose_build(wine):
    """The products' 32-bit programs where this machine runs 32-bit Wine,
    the 64-bit ones otherwise."""
    why_not = wine_e2e.why_no_32bit(wine)
    if why_not is None:
        return "win32", wine.loader32
    print("(32-bit Wine cannot run on this machine: %s;\n the 64-bit build of the same sources is shown)" % why_not)
    return "win64", wine.loader64


def lay_out(wine, table):
    row = table.program(PROGRAM)
    tree = halvern_install.lay_out(wine.drive_c(*HOME_PARTS), row, jvm=table.standin_jvm,
                                   init_files={row.init_file_name: b"-Xmx256m\r\n-Dalder.port=8080\r\n"},
                                   jars=["alder-kernel.jar", "alder-util.jar"], replace=True)
    return "C:\\" + "\\".join(HOME_PARTS) + "\\bin\\" + os.path.basename(tree.program), tree


def main():
    wine = wine_e2e.Wine(os.path.join(SOURCE_DIR, "build", "wine-demo"))
    try:
        problem = wine.boot()
        if problem:
            print("Wine could not be booted: " + problem)
            return 1
        preset, loader = choose_build(wine)
        try:
            table = halvern_install.load_programs(os.path.join(SOURCE_DIR, "build", preset, "programs.json"))
        except halvern_install.ProgramTableError as error:
            print("%s\n(build it: cmake --preset %s && cmake --build --preset %s)" % (error, preset, preset))
            return 1
        program_path, tree = lay_out(wine, table)
        leg = wine_e2e.Leg(wine_e2e.Results(), wine, preset, table, loader)

        print("installation: %s (%s build), server\\jvm.dll = the stand-in VM" % (program_path, preset))
        show(PROGRAM + ".exe install", leg.console(program_path, ["install"]))
        show("reg query ...\\Services\\" + PROGRAM,
             wine.tool("reg", "query", wine_e2e.SERVICES_KEY + "\\" + PROGRAM))
        show("sc start " + PROGRAM, wine.tool("sc", "start", PROGRAM))
        wine.wait_settled(PROGRAM)
        show("sc query " + PROGRAM, wine.tool("sc", "query", PROGRAM))
        print("--- what the VM was handed (server\\standin.log)")
        with open(tree.standin_log, encoding="latin-1") as log:
            sys.stdout.write(log.read().replace("\t", " "))
        show("sc stop " + PROGRAM, wine.tool("sc", "stop", PROGRAM))
        wine.wait_settled(PROGRAM)
        show("sc query " + PROGRAM, wine.tool("sc", "query", PROGRAM))
        print("--- the kernel's calls, from the stand-in's record")
        for method, thread, ref in halvern_install.kernel_calls(tree.standin_events()):
            print("%s %s %s" % (method, thread, ref))

        print("\n--- a failed start: server\\jvm.dll removed")
        os.remove(tree.jvm)
        offset = wine.log_size()
        show("sc start " + PROGRAM, wine.tool("sc", "start", PROGRAM))
        wine.wait_settled(PROGRAM)
        show("sc query " + PROGRAM, wine.tool("sc", "query", PROGRAM))
        print("--- the event-log entry (Wine's event-log channel)")
        log_text = wine.log_since(offset)
        for line in log_text.splitlines():
            if "EventSource" in line or "ReportEvent" in line:
                print(line)
        for entry in wine_e2e.event_entries(log_text):
            print("source=%s type=%d category=%d id=%d strings=%s" % (
                entry["source"], entry["type"], entry["category"], entry["id"], entry["messages"]))

        show(PROGRAM + ".exe uninstall", leg.console(program_path, ["uninstall"]))
        show("sc query " + PROGRAM + " (gone)", wine.tool("sc", "query", PROGRAM))
        return 0
    finally:
        if wine.started:
            wine.stop_server()


if __name__ == "__main__":
    sys.exit(main())
