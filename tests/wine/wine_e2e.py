#!/usr/bin/env python3
"""The five Windows programs end to end under Wine.

Wine's service manager, registry, loader, file functions and event-log calls
are real code, not ours: this drives the programs built for Windows through
them, with the stand-in VM as server\\jvm.dll, and checks what the programs
print, register, report and hand to the VM.

One prefix and one persistent wineserver per run. Wine writes event-log calls
to its debug channel; service processes are started by Wine's service manager
and inherit its environment and standard error, so the first client of the
server (which starts services.exe) carries WINEDEBUG and a standard error
that we keep. Console runs carry their own.

Each check prints PASS or FAIL with its name; the last line is
"N passed, N failed" (", N skipped" when a leg could not run).
"""

import argparse
import glob
import os
import re
import select
import shutil
import subprocess
import sys
import time
import traceback

WINE_DIR = "/usr/lib/wine"
EVENT_CHANNELS = "-all,fixme+advapi,err+eventlog"
SERVICE_CURRENT_KEY = r"HKLM\System\CurrentControlSet\Control\ServiceCurrent"
SERVICES_KEY = r"HKLM\System\CurrentControlSet\Services"
# No control pipe will ever carry this index (see ConsoleStart).
UNUSED_PIPE_INDEX = "999999"

# Bounded waits, in seconds.
BOOT_TIMEOUT = 240
COMMAND_TIMEOUT = 60
STATE_TIMEOUT = 30

PROFILES = [
    # program, display name, banner line, kernel class, init file, echoes errors
    ("AlderSvc", "Halvern Alder Service", "Halvern ALDER Service Control",
     "com/halvern/alder/service/ServerKernel", "alder.init", False),
    ("BirchSvc", "Halvern Birch Service", "Halvern BIRCH Service Control",
     "com/halvern/larch/service/ServerKernel", "birch.init", False),
    ("CedarSvc", "Halvern Cedar Service", "Halvern Cedar Service Control",
     "com/halvern/cedar/service/ServerKernel", "cedar.init", True),
    ("HazelSvc", "Halvern Hazel Service", "Halvern Hazel Service Control",
     "com/halvern/hazel/service/Kernel", "hazel.init", False),
    ("SorrelSvc", "Halvern ROWAN Service", "Halvern ROWAN Service Control",
     "com/halvern/rowan/service/ServerKernel", "rowan.init", False),
]
INIT_FILES = [profile[4] for profile in PROFILES]

# The init file every installation gets (CR LF line ends, the last line
# without one), and the options it must yield, in file order.
INIT_TEXT = (b"-Dhalvern.product=%s\r\n"
             b"\r\n"
             b"options for the kernel\r\n"
             b" -Dleading.blank=ignored\r\n"
             b"\t-Dleading.tab=ignored\r\n"
             b"-Xss512k \t \r\n"
             b"-Dinner=two words\r\n"
             b"-Dlast.line=unterminated")
INIT_OPTIONS = ["-Dhalvern.product=%s", "-Xss512k", "-Dinner=two words", "-Dlast.line=unterminated"]
JARS = ["zeta.jar", "alpha.jar", "x y.jar", "b.jar", "B2.jar"]
NOT_JARS = ["readme.txt", "alpha.jar.bak"]

USAGE_CASES = [
    ("usage without an argument", []),
    ("usage with an extra argument", ["install", "now"]),
    ("usage for a capitalised word", ["Install"]),
    ("usage for an upper-case word", ["RUN"]),
]

FAILED_STARTS = [
    # name, how the installation is broken, message
    ("no server\\jvm.dll", "nojvm", "Failed to load JVM DLL."),
    ("a kernel class the VM cannot find", "fail=class", "Cannot locate the Kernel class"),
]

ERROR_SERVICE_SPECIFIC_ERROR = 1066
SERVICE_STOPPED, SERVICE_START_PENDING, SERVICE_STOP_PENDING, SERVICE_RUNNING = 1, 2, 3, 4


class Results:
    def __init__(self):
        self.passed = 0
        self.failed = 0
        self.skipped = 0

    def check(self, name, ok, detail=""):
        if ok:
            self.passed += 1
            print("PASS %s" % name, flush=True)
        else:
            self.failed += 1
            print("FAIL %s%s" % (name, (": " + detail) if detail else ""), flush=True)
        return ok

    def expect_equal(self, name, actual, expected):
        return self.check(name, actual == expected, "expected %r, got %r" % (expected, actual))

    def skip(self, name, why):
        self.skipped += 1
        print("SKIP %s: %s" % (name, why), flush=True)


class Outcome:
    """A finished (or timed-out) process: exit code None after a timeout."""

    def __init__(self, code, out, err):
        self.code = code
        self.out = out
        self.err = err

    def text(self):
        return self.out.decode("latin-1")

    def describe(self):
        return "exit %s, stdout %r, stderr %r" % (self.code, self.out[-400:], self.err[-400:])


def run(command, env, stdin=b"", timeout=COMMAND_TIMEOUT, cwd=None):
    try:
        done = subprocess.run(command, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=env, timeout=timeout, cwd=cwd)
        return Outcome(done.returncode, done.stdout, done.stderr)
    except subprocess.TimeoutExpired as expired:
        return Outcome(None, expired.stdout or b"", (expired.stderr or b"") + b"[timed out]")
    except OSError as error:
        return Outcome(None, b"", ("[cannot run %s: %s]" % (command[0], error.strerror)).encode())


class Interactive:
    """A process fed through a pipe that stays open: what it printed so far
    can be awaited, with a deadline, before the next key is sent."""

    def __init__(self, command, env):
        self.out = b""
        self.err = b""
        try:
            self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                            stderr=subprocess.PIPE, env=env)
        except OSError as error:
            self.process = None
            self.err = ("[cannot run %s: %s]" % (command[0], error.strerror)).encode()

    def _pump(self, until, timeout):
        """Reads both pipes until until() holds, both are at end, or the deadline."""
        if self.process is None:
            return until()
        deadline = time.monotonic() + timeout
        streams = {self.process.stdout: "out", self.process.stderr: "err"}
        while not until() and streams:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            ready, _, _ = select.select(list(streams), [], [], left)
            for stream in ready:
                chunk = os.read(stream.fileno(), 65536)
                if not chunk:
                    del streams[stream]
                elif streams[stream] == "out":
                    self.out += chunk
                else:
                    self.err += chunk
        return until()

    def wait_for_output(self, text, timeout=COMMAND_TIMEOUT):
        return self._pump(lambda: self.out.endswith(text), timeout)

    def send(self, data):
        if self.process is not None:
            try:
                self.process.stdin.write(data)
                self.process.stdin.flush()
            except OSError:
                pass

    def wait_for_exit(self, timeout=COMMAND_TIMEOUT):
        """The exit code, with standard input still open; None if it does not end."""
        if self.process is None:
            return None
        self._pump(lambda: False, timeout)
        try:
            return self.process.wait(timeout=1)
        except subprocess.TimeoutExpired:
            return None

    def close(self):
        if self.process is not None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=COMMAND_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            self.process.stdout.close()
            self.process.stderr.close()


# --- Wine --------------------------------------------------------------------

class Wine:
    """One prefix, one persistent wineserver, and the service manager's log."""

    def __init__(self, work_dir):
        self.work_dir = work_dir
        self.prefix = os.path.join(work_dir, "prefix")
        self.services_log = os.path.join(work_dir, "services.log")
        self.server = os.path.join(WINE_DIR, "wineserver64")
        self.loader64 = os.path.join(WINE_DIR, "wine64")
        self.loader32 = os.path.join(WINE_DIR, "wine")
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("WINE") and k != "DISPLAY"}
        self.env.update({
            "WINEPREFIX": self.prefix,
            # 64-bit processes that Wine itself starts (services) use this loader.
            "WINELOADER": self.loader64,
            "WINEDEBUG": "-all",
            # No Mono or Gecko: nothing here needs them, and their installers wait.
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
        })
        self.started = False

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def stop_server(self):
        run([self.server, "-k"], self.env, timeout=30)

    def boot(self):
        """Fresh prefix, booted; then the persistent server and services.exe
        with the event-log channel on and its standard error kept."""
        os.makedirs(self.work_dir, exist_ok=True)
        self.stop_server()  # a server left over from an earlier run of ours
        shutil.rmtree(self.prefix, ignore_errors=True)
        booted = run([self.loader64, "wineboot", "-i"], self.env, timeout=BOOT_TIMEOUT)
        if booted.code != 0:
            return "wineboot -i: " + booted.describe()
        # Let the boot's own server end, or a second services.exe could start
        # beside ours and split the service database.
        waited = run([self.server, "-w"], self.env, timeout=BOOT_TIMEOUT)
        if waited.code != 0:
            return "wineserver -w: " + waited.describe()
        with open(os.path.join(self.work_dir, "wineserver.log"), "wb") as server_log:
            try:
                subprocess.run([self.server, "-p"], env=self.env, stdin=subprocess.DEVNULL,
                               stdout=server_log, stderr=server_log, timeout=30, check=True)
            except (subprocess.SubprocessError, OSError) as error:
                return "wineserver -p: %s" % error
        self.started = True
        env = dict(self.env, WINEDEBUG=EVENT_CHANNELS)
        with open(self.services_log, "wb") as log:
            try:
                subprocess.run([self.loader64, "cmd", "/c", "exit"], env=env, stdin=subprocess.DEVNULL,
                               stdout=log, stderr=log, timeout=COMMAND_TIMEOUT, check=True)
            except (subprocess.SubprocessError, OSError) as error:
                return "first client: %s" % error
        return None

    def services_process_logs(self):
        """Whether the prefix's services.exe writes its standard error to our log."""
        wanted = os.path.realpath(self.services_log)
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    command = f.read()
                if b"services.exe" not in command.split(b"\0")[0]:
                    continue
                with open("/proc/%s/environ" % pid, "rb") as f:
                    environ = f.read().split(b"\0")
                if ("WINEPREFIX=" + self.prefix).encode() not in environ:
                    continue
                return os.path.realpath("/proc/%s/fd/2" % pid) == wanted
            except OSError:
                continue
        return False

    def log_size(self):
        return os.path.getsize(self.services_log)

    def log_since(self, offset):
        with open(self.services_log, "rb") as log:
            log.seek(offset)
            return log.read().decode("latin-1")

    def tool(self, *args):
        return run([self.loader64] + list(args), self.env)

    def reg_values(self, key):
        """The values of a registry key as {name: (type, data)}, or None when
        the key does not exist."""
        done = self.tool("reg", "query", key)
        if done.code != 0:
            return None
        values = {}
        for line in done.text().splitlines():
            match = re.match(r"^    (\S.*?)    (REG_\w+)    (.*)$", line)
            if match:
                values[match.group(1)] = (match.group(2), match.group(3))
        return values

    def service_state(self, name):
        """sc query's fields as {field: number}, or None when sc fails."""
        done = self.tool("sc", "query", name)
        if done.code != 0:
            return None
        fields = {}
        for line in done.text().splitlines():
            match = re.match(r"^\s+(\w+)\s+:\s+(0x[0-9a-fA-F]+|\d+)", line)
            if match:
                fields[match.group(1)] = int(match.group(2), 0)
        return fields

    def wait_settled(self, name):
        """Polls the service until it is out of the pending states."""
        deadline = time.monotonic() + STATE_TIMEOUT
        while True:
            state = self.service_state(name)
            if state is None or state.get("STATE") not in (SERVICE_START_PENDING, SERVICE_STOP_PENDING):
                return state
            if time.monotonic() > deadline:
                return state
            time.sleep(0.2)


# --- The event log, as Wine's debug channel shows it ------------------------

REGISTER_LINE = re.compile(r'^([0-9a-f]+):fixme:advapi:RegisterEventSourceA \((.*?),"(.*)"\): stub$')
REPORT_LINE = re.compile(r"^([0-9a-f]+):fixme:advapi:ReportEventA \((\w+),0x(\w+),0x(\w+),0x(\w+),(\w+),"
                         r"0x(\w+),0x(\w+),(\w+),(\w+)\): stub$")
MESSAGE_LINE = re.compile(r'^([0-9a-f]+):err:eventlog:ReportEventW L"(.*)"$')


def event_entries(log_text):
    """The ReportEventA calls in a piece of debug output, each with the source
    its thread registered last and the strings Wine printed for it."""
    entries = []
    sources = {}
    last_entry = {}
    for line in log_text.splitlines():
        match = REGISTER_LINE.match(line)
        if match:
            sources[match.group(1)] = (match.group(2), match.group(3))
            continue
        match = REPORT_LINE.match(line)
        if match:
            thread = match.group(1)
            entry = {
                "server": sources.get(thread, (None, None))[0],
                "source": sources.get(thread, (None, None))[1],
                "type": int(match.group(3), 16),
                "category": int(match.group(4), 16),
                "id": int(match.group(5), 16),
                "sid": int(match.group(6), 16),
                "strings": int(match.group(7), 16),
                "data size": int(match.group(8), 16),
                "messages": [],
            }
            entries.append(entry)
            last_entry[thread] = entry
            continue
        match = MESSAGE_LINE.match(line)
        if match and match.group(1) in last_entry:
            last_entry[match.group(1)]["messages"].append(match.group(2))
    return entries


def expected_entry(service, message):
    return [{"server": "(null)", "source": service, "type": 1, "category": 1, "id": 2, "sid": 0,
             "strings": 1, "data size": 0, "messages": [message]}]


# --- The stand-in VM's record ------------------------------------------------

def read_standin_log(server_dir):
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


# --- One leg: the programs of one bitness ------------------------------------

class Leg:
    def __init__(self, results, wine, name, dist_dir, standin_dll, compiler, loader):
        self.results = results
        self.wine = wine
        self.name = name
        self.dist_dir = dist_dir
        self.standin_dll = standin_dll
        self.compiler = compiler
        self.loader = loader

    def check(self, name, ok, detail=""):
        return self.results.check("[%s] %s" % (self.name, name), ok, detail)

    def expect_equal(self, name, actual, expected):
        return self.results.expect_equal("[%s] %s" % (self.name, name), actual, expected)

    # Installation layout --------------------------------------------------

    def lay_out(self, home_parts, profile):
        """<home>\\bin\\<Program>.exe, bin\\server\\jvm.dll, bin\\<init file>
        (and the other programs' init files, which must stay unread),
        lib\\util\\*.jar. Returns (windows path of the program, bin dir)."""
        program, init_file = profile[0], profile[4]
        home = self.wine.drive_c(*home_parts)
        shutil.rmtree(home, ignore_errors=True)
        bin_dir = os.path.join(home, "bin")
        os.makedirs(os.path.join(bin_dir, "server"))
        os.makedirs(os.path.join(home, "lib", "util"))
        shutil.copy(os.path.join(self.dist_dir, program + ".exe"), bin_dir)
        shutil.copy(self.standin_dll, os.path.join(bin_dir, "server", "jvm.dll"))
        for name in INIT_FILES:
            with open(os.path.join(bin_dir, name), "wb") as f:
                if name == init_file:
                    f.write(INIT_TEXT % program.encode())
                else:
                    f.write(b"-Dwrong.init.file=" + name.encode() + b"\r\n")
        for name in JARS + NOT_JARS:
            open(os.path.join(home, "lib", "util", name), "wb").close()
        windows_path = "C:\\" + "\\".join(home_parts) + "\\bin\\" + program + ".exe"
        return windows_path, bin_dir

    @staticmethod
    def expected_options(program):
        # Wine, like NTFS, lists a directory in case-insensitive name order.
        jars = sorted(JARS, key=str.upper)
        return (["-Dapplication.home=..", "-Djava.library.path=..\\lib"]
                + [option % program if "%s" in option else option for option in INIT_OPTIONS]
                + ["-Xbootclasspath/p:" + ";".join("..\\lib\\util\\" + jar for jar in jars)])

    # Starting programs ----------------------------------------------------

    def console(self, program_path, args, stdin=b""):
        """A console start of a program. Wine's dispatcher looks for the control
        pipe of the service started last in the prefix, and waits for it while
        that service runs; an index no pipe has makes it refuse at once."""
        self.wine.tool("reg", "add", SERVICE_CURRENT_KEY, "/ve", "/t", "REG_DWORD", "/d", UNUSED_PIPE_INDEX, "/f")
        env = dict(self.wine.env, WINEDEBUG=EVENT_CHANNELS)
        if stdin is None:
            return Interactive([self.loader, program_path] + args, env)
        return run([self.loader, program_path] + args, env, stdin=stdin)

    def start_service(self, service):
        offset = self.wine.log_size()
        self.wine.tool("sc", "start", service)
        state = self.wine.wait_settled(service)
        return state, self.wine.log_since(offset)

    def stop_service(self, service):
        offset = self.wine.log_size()
        self.wine.tool("sc", "stop", service)
        state = self.wine.wait_settled(service)
        return state, self.wine.log_since(offset)

    def remove_leftover(self, service):
        """A registration a failed check left behind would break the next leg."""
        if self.wine.service_state(service) is not None:
            self.wine.tool("sc", "stop", service)
            self.wine.wait_settled(service)
            self.wine.tool("sc", "delete", service)

    def expect_state(self, name, state, current, win32_exit, specific_exit):
        actual = None if state is None else (state.get("STATE"), state.get("WIN32_EXIT_CODE"),
                                             state.get("SERVICE_EXIT_CODE"))
        return self.expect_equal(name, actual, (current, win32_exit, specific_exit))

    # The checks -----------------------------------------------------------

    def run_program(self, profile):
        program, display, banner, kernel_class, _, echoes = profile
        service = program
        path, bin_dir = self.lay_out(["halvern", self.name, program.lower()], profile)
        server_dir = os.path.join(bin_dir, "server")
        standin_log = os.path.join(server_dir, "standin.log")
        service_key = SERVICES_KEY + "\\" + service

        def clear_record():
            if os.path.exists(standin_log):
                os.remove(standin_log)

        def console_says(name, args, expected_out, stdin=b""):
            done = self.console(path, args, stdin)
            self.expect_equal("%s: %s" % (program, name), (done.code, done.text()), (0, expected_out))
            return done

        usage = "\r\n%s\r\nUsage:\r\n\t%s [install|uninstall]\r\n" % (banner, path)
        for name, args in USAGE_CASES:
            console_says(name, args, usage)
        self.expect_equal("%s: the usage commands registered nothing" % program,
                          self.wine.reg_values(service_key), None)
        console_says("uninstall before install", ["uninstall"], "Error opening service\r\n")

        # Registration.
        console_says("install", ["install"], "Service registration successful\r\n")
        registered = self.wine.reg_values(service_key)
        expected_registration = {
            "ImagePath": ("REG_SZ", path), "Type": ("REG_DWORD", "0x10"), "Start": ("REG_DWORD", "0x3"),
            "ErrorControl": ("REG_DWORD", "0x1"), "ObjectName": ("REG_SZ", "LocalSystem"),
            "DisplayName": ("REG_SZ", display),
        }
        self.expect_equal("%s: the service manager's registry entry" % program,
                          None if registered is None else {k: registered.get(k) for k in expected_registration},
                          expected_registration)
        console_says("install again", ["install"], "Error registering service\r\n")
        self.expect_equal("%s: install again leaves the first entry unchanged" % program,
                          self.wine.reg_values(service_key), registered)
        state = self.wine.service_state(service) or {}
        self.expect_equal("%s: registered, not running" % program, state.get("STATE"), SERVICE_STOPPED)

        # A service start and stop.
        clear_record()
        state, log = self.start_service(service)
        self.expect_state("%s: sc start runs the service" % program, state, SERVICE_RUNNING, 0, 0)
        events = read_standin_log(server_dir)
        self.expect_equal("%s: the VM's options" % program, recorded_options(events),
                          self.expected_options(program))
        bin_windows = path.rsplit("\\", 1)[0]
        self.expect_equal("%s: the VM is created in the module directory" % program,
                          [e[1] for e in recorded(events, "CreateJavaVM")], ["cwd=" + bin_windows])
        self.expect_equal("%s: the profile's kernel class" % program,
                          [e[1] for e in recorded(events, "FindClass")], [kernel_class])
        state, log_stop = self.stop_service(service)
        self.expect_state("%s: sc stop stops the service" % program, state, SERVICE_STOPPED, 0, 0)
        events = read_standin_log(server_dir)
        calls = kernel_calls(events)
        ok = (len(calls) == 2 and calls[0][0] == "start" and calls[1][0] == "stop"
              and calls[0][1] != calls[1][1] and calls[0][2] == calls[1][2] == "ref=valid"
              and not recorded(events, "WrongThreadEnv"))
        self.check("%s: stop after start, on another thread, through a valid reference" % program, ok,
                   "kernel calls %r, wrong-thread uses %r" % (calls, recorded(events, "WrongThreadEnv")))
        self.expect_equal("%s: a good start and stop log nothing" % program, event_entries(log + log_stop), [])

        # Failed service starts.
        jvm = os.path.join(server_dir, "jvm.dll")
        conf = os.path.join(server_dir, "standin.conf")
        for name, breakage, message in FAILED_STARTS:
            clear_record()
            if breakage == "nojvm":
                os.rename(jvm, jvm + ".away")
            else:
                with open(conf, "w") as f:
                    f.write(breakage + "\n")
            state, log = self.start_service(service)
            if breakage == "nojvm":
                os.rename(jvm + ".away", jvm)
            else:
                os.remove(conf)
            self.expect_state("%s: start with %s fails" % (program, name), state,
                              SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 1)
            self.expect_equal("%s: start with %s logs one event" % (program, name),
                              event_entries(log), expected_entry(service, message))

        # Console runs. At the keyboard: each prompt shows before its wait,
        # the kernel starts only after the first ENTER and stops only after
        # the second, both on the one thread.
        start_prompt = (path + "Press <ENTER> to start\r\n").encode()
        stop_prompt = b"Running. Press <ENTER> to stop\r\n"
        clear_record()
        session = self.console(path, ["run"], stdin=None)
        steps = [session.wait_for_output(start_prompt)]
        time.sleep(0.5)  # room for a start that does not wait for ENTER
        steps.append([c[0] for c in kernel_calls(read_standin_log(server_dir))] == [])
        session.send(b"\n")
        steps.append(session.wait_for_output(start_prompt + stop_prompt))
        time.sleep(0.5)  # room for a stop that does not wait for ENTER
        steps.append([c[0] for c in kernel_calls(read_standin_log(server_dir))] == ["start"])
        session.send(b"\n")
        steps.append(session.wait_for_exit())
        session.close()
        self.expect_equal("%s: console run at the keyboard" % program,
                          (steps, session.out), ([True, True, True, True, 0], start_prompt + stop_prompt))
        self.check_console_kernel(program, "console run", server_dir, session.err)
        # Text before the first ENTER: its first character ends the first
        # wait and the rest of the line the second, with no more keys sent.
        clear_record()
        session = self.console(path, ["run"], stdin=None)
        session.wait_for_output(start_prompt)
        session.send(b"go\n")
        code = session.wait_for_exit()
        session.close()
        self.expect_equal("%s: console run with text at the first prompt" % program,
                          (code, session.out), (0, start_prompt + stop_prompt))
        self.check_console_kernel(program, "console run with text at the first prompt", server_dir, session.err)
        clear_record()
        done = console_says("console run at end of input", ["run"], (start_prompt + stop_prompt).decode(), b"")
        self.check_console_kernel(program, "console run at end of input", server_dir, done.err)
        os.rename(jvm, jvm + ".away")
        echo = "Failed to load JVM DLL.\r\n" if echoes else ""
        done = console_says("console run without a VM" + (" echoes the failure" if echoes else ""), ["run"],
                            start_prompt.decode() + echo + stop_prompt.decode(), b"\n\n")
        os.rename(jvm + ".away", jvm)
        self.expect_equal("%s: console run without a VM logs one event" % program,
                          event_entries(done.err.decode("latin-1")),
                          expected_entry(service, "Failed to load JVM DLL."))

        # Removal while the service runs: the manager marks it for deletion
        # and removes it when it stops.
        clear_record()
        state, _ = self.start_service(service)
        self.expect_state("%s: sc start before uninstall" % program, state, SERVICE_RUNNING, 0, 0)
        console_says("uninstall while running", ["uninstall"], "Service unregistration successful\r\n")
        console_says("uninstall again while running", ["uninstall"], "Error deleting service\r\n")
        console_says("install while marked for deletion", ["install"], "Error registering service\r\n")
        self.stop_service(service)
        self.check("%s: the stopped service is gone" % program,
                   self.wine.service_state(service) is None and self.wine.reg_values(service_key) is None)
        self.expect_equal("%s: its kernel was stopped" % program,
                          [c[0] for c in kernel_calls(read_standin_log(server_dir))], ["start", "stop"])
        console_says("uninstall once gone", ["uninstall"], "Error opening service\r\n")
        self.remove_leftover(service)

    def check_console_kernel(self, program, name, server_dir, err):
        calls = kernel_calls(read_standin_log(server_dir))
        ok = (len(calls) == 2 and calls[0][0] == "start" and calls[1][0] == "stop"
              and calls[0][1] == calls[1][1] and calls[0][2] == calls[1][2] == "ref=valid")
        self.check("%s: %s starts and stops the kernel on one thread" % (program, name), ok,
                   "kernel calls %r" % calls)
        self.expect_equal("%s: %s logs nothing" % (program, name), event_entries(err.decode("latin-1")), [])

    def plant_program(self):
        """C:\\Program.exe, which records each run in C:\\planted-ran.txt.
        Returns None, or why it could not be built."""
        built = run([self.compiler, "-std=c11", "-Wall", "-Wextra", "-Werror", "-O2", "-s", "-o",
                     self.wine.drive_c("Program.exe"), os.path.join(os.path.dirname(__file__), "planted.c")],
                    self.wine.env, timeout=120)
        return None if built.code == 0 else "building C:\\Program.exe: " + built.describe()

    def planted_ran(self):
        try:
            with open(self.wine.drive_c("planted-ran.txt"), "rb") as record:
                return record.read().decode("latin-1")
        except FileNotFoundError:
            return None

    def forget_planted_runs(self):
        """So that one program's fault does not show up again at the next."""
        if os.path.exists(self.wine.drive_c("planted-ran.txt")):
            os.remove(self.wine.drive_c("planted-ran.txt"))

    def run_blanks(self):
        """Installations under C:\\Program Files\\Halvern <Program>\\bin: the
        service manager must start the program itself, never C:\\Program.exe."""
        problem = self.plant_program()
        if not self.check("C:\\Program.exe planted", problem is None, problem or ""):
            return
        # The bait is live: an unquoted path with blanks does start it here.
        bait_path = "C:\\Program Files\\Halvern Bait\\bin\\AlderSvc.exe"
        self.lay_out(["Program Files", "Halvern Bait"], PROFILES[0])
        self.wine.tool("sc", "create", "BaitSvc", "binPath=", bait_path)
        self.wine.tool("sc", "start", "BaitSvc")
        deadline = time.monotonic() + STATE_TIMEOUT
        while self.planted_ran() is None and time.monotonic() < deadline:
            time.sleep(0.2)
        self.expect_equal("an unquoted path with blanks starts C:\\Program.exe", self.planted_ran(),
                          bait_path + "\r\n")
        self.remove_leftover("BaitSvc")
        self.forget_planted_runs()

        for profile in PROFILES:
            program = profile[0]
            path, bin_dir = self.lay_out(["Program Files", "Halvern " + program], profile)
            done = self.console(path, ["install"])
            self.expect_equal("%s under blanks: install" % program, (done.code, done.text()),
                              (0, "Service registration successful\r\n"))
            registered = self.wine.reg_values(SERVICES_KEY + "\\" + program) or {}
            self.expect_equal("%s under blanks: the path is registered quoted" % program,
                              registered.get("ImagePath"), ("REG_SZ", '"%s"' % path))
            state, _ = self.start_service(program)
            self.expect_state("%s under blanks: sc start runs the service" % program, state,
                              SERVICE_RUNNING, 0, 0)
            events = read_standin_log(os.path.join(bin_dir, "server"))
            self.expect_equal("%s under blanks: the program itself started the kernel" % program,
                              [c[0] for c in kernel_calls(events)], ["start"])
            state, _ = self.stop_service(program)
            self.expect_state("%s under blanks: sc stop stops the service" % program, state,
                              SERVICE_STOPPED, 0, 0)
            done = self.console(path, ["uninstall"])
            self.expect_equal("%s under blanks: uninstall" % program, (done.code, done.text()),
                              (0, "Service unregistration successful\r\n"))
            self.check("%s under blanks: uninstall removes the stopped service" % program,
                       self.wine.service_state(program) is None
                       and self.wine.reg_values(SERVICES_KEY + "\\" + program) is None)
            self.remove_leftover(program)
            self.expect_equal("%s under blanks: C:\\Program.exe never ran" % program, self.planted_ran(), None)
            self.forget_planted_runs()

    def run(self):
        for profile in PROFILES:
            self.run_program(profile)
        self.run_blanks()


# --- Building and the legs ---------------------------------------------------

def cache_value(build_dir, name):
    with open(os.path.join(build_dir, "CMakeCache.txt")) as cache:
        for line in cache:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    return None


def build(source_dir, preset, build_dir):
    """Configures (once) and builds a Windows preset; returns the directory of
    the programs, the stand-in VM and the C compiler, or a reason."""
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        done = run(["cmake", "--preset", preset, "-B", build_dir], None, timeout=600, cwd=source_dir)
        if done.code != 0:
            return "configuring %s: %s" % (preset, done.describe())
    done = run(["cmake", "--build", build_dir], None, timeout=1200, cwd=source_dir)
    if done.code != 0:
        return "building %s: %s" % (preset, done.describe())
    dist = cache_value(build_dir, "HALVERN_DIST_DIR") or os.path.join(build_dir, "profiles")
    # The toolchain file names the compiler; CMake records it here, not in the cache.
    compiler = None
    for found in glob.glob(os.path.join(build_dir, "CMakeFiles", "*", "CMakeCCompiler.cmake")):
        with open(found) as f:
            match = re.search(r'^set\(CMAKE_C_COMPILER "(.*)"\)$', f.read(), re.MULTILINE)
        if match:
            compiler = match.group(1)
    if compiler is None:
        return "no C compiler recorded in " + build_dir
    return dist, os.path.join(build_dir, "standin", "jvm.dll"), compiler


def why_no_32bit(wine, work_dir):
    """None when this machine runs 32-bit Windows programs under Wine, or why not."""
    done = run([wine.loader32, "--version"], wine.env, timeout=30)
    if done.code != 0:
        return "the 32-bit Wine loader does not run here: " + done.err.decode("latin-1").strip()
    probe = os.path.join(work_dir, "probe32.exe")
    made = run(["i686-w64-mingw32-gcc-win32", "-x", "c", "-o", probe, "-"], wine.env,
               stdin=b'#include <stdio.h>\nint main(void) { puts("32-bit"); return 0; }\n', timeout=120)
    if made.code != 0:
        return "cannot build a 32-bit probe program: " + made.describe()
    done = run([wine.loader32, probe], wine.env, timeout=COMMAND_TIMEOUT)
    if (done.code, done.out) != (0, b"32-bit\r\n"):
        return "a 32-bit probe program does not run under Wine: " + done.describe()
    return None


def main():
    source_dir = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-win64", default=os.path.join(source_dir, "build", "win64"))
    parser.add_argument("--build-win32", default=os.path.join(source_dir, "build", "win32"))
    parser.add_argument("--work", default=os.path.join(source_dir, "build", "wine-e2e"))
    args = parser.parse_args()

    began = time.monotonic()
    results = Results()
    wine = Wine(os.path.realpath(args.work))
    try:
        problem = wine.boot()
        if results.check("Wine prefix booted, persistent server up", problem is None, problem or ""):
            results.check("services.exe writes the event-log channel to our log", wine.services_process_logs())
            legs = [("win64", args.build_win64, wine.loader64)]
            no_32bit = why_no_32bit(wine, wine.work_dir)
            if no_32bit is None:
                legs.append(("win32", args.build_win32, wine.loader32))
            for name, build_dir, loader in legs:
                built = build(source_dir, name, os.path.realpath(build_dir))
                if results.check("[%s] programs and stand-in VM built" % name, not isinstance(built, str),
                                 built if isinstance(built, str) else ""):
                    dist, standin, compiler = built
                    print("== [%s] %s with %s, under %s" % (name, dist, standin, loader), flush=True)
                    Leg(results, wine, name, dist, standin, compiler, loader).run()
            if no_32bit is not None:
                results.skip("[win32] the 32-bit programs under Wine (leg skipped)", no_32bit)
    except Exception:  # a fault of the driver itself still ends in the summary
        results.check("the driver ran to its end", False, traceback.format_exc())
    finally:
        if wine.started:
            wine.stop_server()
    print("took %.0f s" % (time.monotonic() - began))
    summary = "%d passed, %d failed" % (results.passed, results.failed)
    if results.skipped:
        summary += ", %d skipped" % results.skipped
    print(summary)
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())
