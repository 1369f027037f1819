#!/usr/bin/env python3
"""Installations of the service hosts, laid out for a run, and the table of
programs a build writes (<build>/programs.json, see cmake/ProgramTable.cmake).

An installation, as a program finds it from its own directory:

    <home>/bin/<program>             AlderSvc.exe (AlderSvc natively)
    <home>/bin/server/jvm.dll        the VM library: the stand-in or the real-JDK adapter
    <home>/bin/server/standin.conf   what the stand-in is told to fail (optional)
    <home>/bin/server/standin.log    what the stand-in was handed (tests/standin_vm/README.md)
    <home>/bin/<init file>           the VM options
    <home>/lib/util/*.jar            the boot class path

From the shell, lays out one installation and prints the program's path:

    tests/support/halvern_install.py HOME --programs build/native/programs.json --program AlderSvc \\
        --jvm LIBRARY [--link-jvm] [--init=TEXT] [--jar NAME[=SOURCE]]... [--standin-conf=TEXT]
"""

import argparse
import collections
import contextlib
import json
import os
import shutil
import sys

Program = collections.namedtuple("Program", [
    "name", "service_name", "display_name", "banner_line", "kernel_class_name", "init_file_name",
    "echo_errors", "path"])

# programs.json key -> (Program field, type)
_ROW_KEYS = {
    "name": ("name", str),
    "serviceName": ("service_name", str),
    "displayName": ("display_name", str),
    "bannerLine": ("banner_line", str),
    "kernelClassName": ("kernel_class_name", str),
    "initFileName": ("init_file_name", str),
    "echoErrors": ("echo_errors", bool),
    "path": ("path", str),
}


class ProgramTableError(ValueError):
    pass


class ProgramTable:
    """The programs of one build, with the stand-in VM and (Windows builds)
    the planted program built beside them."""

    def __init__(self, source, system, bits, programs, standin_jvm, planted):
        self.source = source
        self.system = system
        self.bits = bits
        self.programs = programs
        self.standin_jvm = standin_jvm
        self.planted = planted

    def program(self, name):
        for row in self.programs:
            if row.name == name:
                return row
        raise ProgramTableError("%s: no program %s" % (self.source, name))

    def missing_files(self):
        """The built files the table names that are not there."""
        files = [row.path for row in self.programs] + [self.standin_jvm]
        if self.planted is not None:
            files.append(self.planted)
        return [path for path in files if not os.path.isfile(path)]


def load_programs(path):
    """The table a build wrote; ProgramTableError when it is missing or not
    in the shape the build writes."""
    try:
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
    except FileNotFoundError:
        raise ProgramTableError("%s: not found (configure and build the preset first)" % path) from None
    except (OSError, ValueError) as error:
        raise ProgramTableError("%s: %s" % (path, error)) from None

    def bad(what):
        return ProgramTableError("%s: %s" % (path, what))

    if not isinstance(data, dict):
        raise bad("not an object")
    if not isinstance(data.get("system"), str):
        raise bad("no system")
    if data.get("bits") not in (32, 64):
        raise bad("bits is %r" % data.get("bits"))
    if not isinstance(data.get("standinJvm"), str):
        raise bad("no standinJvm")
    if data.get("planted") is not None and not isinstance(data["planted"], str):
        raise bad("planted is %r" % data["planted"])
    rows = data.get("programs")
    if not isinstance(rows, list) or not rows:
        raise bad("no programs")
    programs = []
    for row in rows:
        if not isinstance(row, dict):
            raise bad("a program row is %r" % row)
        fields = {}
        for key, (field, kind) in _ROW_KEYS.items():
            if not isinstance(row.get(key), kind):
                raise bad("program %r: %s is %r" % (row.get("name"), key, row.get(key)))
            fields[field] = row[key]
        programs.append(Program(**fields))
    names = [row.name for row in programs]
    if len(set(names)) != len(names):
        raise bad("a program is listed twice: %r" % names)
    return ProgramTable(path, data["system"], data["bits"], programs, data["standinJvm"], data["planted"])


# --- The stand-in VM's record ------------------------------------------------

def read_standin_log(server_dir):
    """standin.log as a list of events, each the list of its TAB-separated
    fields, event name first; no log is no events."""
    try:
        with open(os.path.join(server_dir, "standin.log"), "rb") as log:
            return [line.split("\t") for line in log.read().decode("latin-1").splitlines()]
    except FileNotFoundError:
        return []


def recorded_options(events):
    return [event[2] for event in events if event[0] == "option"]


def recorded(events, name):
    return [event for event in events if event[0] == name]


def kernel_calls(events):
    """(method, thread, ref) of each CallVoidMethod, in order."""
    return [(e[1], e[2], e[3]) for e in events if e[0] == "CallVoidMethod"]


# --- Installations -----------------------------------------------------------

class Installation:
    def __init__(self, home, program_file_name):
        self.home = home
        self.bin_dir = os.path.join(home, "bin")
        self.server_dir = os.path.join(self.bin_dir, "server")
        self.jar_dir = os.path.join(home, "lib", "util")
        self.program = os.path.join(self.bin_dir, program_file_name)
        self.jvm = os.path.join(self.server_dir, "jvm.dll")
        self.standin_log = os.path.join(self.server_dir, "standin.log")
        self.standin_conf = os.path.join(self.server_dir, "standin.conf")

    def standin_events(self):
        return read_standin_log(self.server_dir)

    def clear_standin_log(self):
        with contextlib.suppress(FileNotFoundError):
            os.remove(self.standin_log)

    def set_standin_conf(self, text):
        """Writes standin.conf, or removes it when text is None."""
        if text is None:
            with contextlib.suppress(FileNotFoundError):
                os.remove(self.standin_conf)
        else:
            os.makedirs(self.server_dir, exist_ok=True)
            with open(self.standin_conf, "w") as f:
                f.write(text)

    @contextlib.contextmanager
    def standin_configured(self, text):
        """standin.conf holds text for the duration, and is gone after."""
        self.set_standin_conf(text)
        try:
            yield self
        finally:
            self.set_standin_conf(None)

    @contextlib.contextmanager
    def without_jvm(self):
        """No server/jvm.dll for the duration; the same one back after."""
        away = self.jvm + ".away"
        os.rename(self.jvm, away)
        try:
            yield self
        finally:
            os.rename(away, self.jvm)


def lay_out(home, program, jvm=None, link_jvm=False, init_files=None, jars=(), standin_conf=None,
            replace=False, windows_jar_links=False):
    """Lays out an installation at home and returns it.

    program     the built program (a path, or a Program row), copied into bin
                under its own name
    jvm         a library copied (symlinked with link_jvm) as bin/server/jvm.dll;
                None leaves bin/server out
    init_files  {file name: bytes} written into bin
    jars        file names, made empty in lib/util; or {name: bytes or the
                path of a file to copy}
    replace     removes whatever is at home first; otherwise home must be
                absent or empty
    windows_jar_links
                for a Linux VM: the host names each jar as Windows does
                (..\\lib\\util\\NAME from bin), which on Linux is one file
                name; a link of that name in bin leads to the jar
    """
    program = getattr(program, "path", program)
    if replace:
        shutil.rmtree(home, ignore_errors=True)
    elif os.path.isdir(home) and os.listdir(home):
        raise FileExistsError("%s: not empty" % home)
    tree = Installation(home, os.path.basename(program))
    os.makedirs(tree.bin_dir, exist_ok=True)
    os.makedirs(tree.jar_dir, exist_ok=True)
    shutil.copy2(program, tree.program)
    if jvm is not None or standin_conf is not None:
        os.makedirs(tree.server_dir)
    if jvm is not None:
        if link_jvm:
            os.symlink(os.path.abspath(jvm), tree.jvm)
        else:
            shutil.copy2(jvm, tree.jvm)
    if standin_conf is not None:
        tree.set_standin_conf(standin_conf)
    for name, content in (init_files or {}).items():
        with open(os.path.join(tree.bin_dir, name), "wb") as f:
            f.write(content)
    for name, content in (jars.items() if isinstance(jars, dict) else ((name, b"") for name in jars)):
        target = os.path.join(tree.jar_dir, name)
        if isinstance(content, bytes):
            with open(target, "wb") as f:
                f.write(content)
        else:
            shutil.copy2(content, target)
        if windows_jar_links:
            os.symlink("../lib/util/" + name, os.path.join(tree.bin_dir, "..\\lib\\util\\" + name))
    return tree


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("home", help="where the installation goes: absent or an empty directory")
    parser.add_argument("--programs", required=True, help="the programs.json of a build")
    parser.add_argument("--program", required=True, help="which program of the table, e.g. AlderSvc")
    parser.add_argument("--jvm", help="the library installed as bin/server/jvm.dll")
    parser.add_argument("--link-jvm", action="store_true", help="symlink the library instead of copying it")
    parser.add_argument("--init", help="the init file's text (the program's own init file)")
    parser.add_argument("--jar", action="append", default=[], metavar="NAME[=SOURCE]",
                        help="a jar in lib/util: a copy of SOURCE, or empty")
    parser.add_argument("--standin-conf", help="the stand-in's standin.conf")
    parser.add_argument("--windows-jar-links", action="store_true",
                        help="links named as the host names the jars, for a Linux VM")
    arguments = parser.parse_args()
    try:
        row = load_programs(arguments.programs).program(arguments.program)
    except ProgramTableError as error:
        sys.exit("halvern_install: %s" % error)
    init_files = {} if arguments.init is None else {row.init_file_name: os.fsencode(arguments.init)}
    jars = {}
    for jar in arguments.jar:
        name, _, source = jar.partition("=")
        jars[name] = source if source else b""
    try:
        tree = lay_out(arguments.home, row, jvm=arguments.jvm, link_jvm=arguments.link_jvm, init_files=init_files,
                       jars=jars, standin_conf=arguments.standin_conf,
                       windows_jar_links=arguments.windows_jar_links)
    except OSError as error:
        sys.exit("halvern_install: %s" % error)
    print(tree.program)
    return 0


if __name__ == "__main__":
    sys.exit(main())
