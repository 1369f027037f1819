// Runs the kernel host once in a process of its own, as a program of the
// family would, and prints what happened:
//   kernel_driver console   start and stop on the main thread
//   kernel_driver service   start on a thread that then detaches and
//                           ends, stop on the main thread
//   kernel_driver servicelog  the same with the service's output log:
//                           what the kernel and the VM print goes to
//                           <home>/logs/AlderSvc.log, what the driver
//                           prints still to its own standard output
//   kernel_driver start     start only, then whether the VM (if any) still
//                           has an exception pending ("exceptionPending=")
// Output lines: "LoadLibraryA <path>", "started=<0|1>", "cwd=<dir>",
// "initFileOpened=<0|1>", "initFileClosed=<0|1>", and one
// "report <source> <type> <category> <id> <message> <detail>" line (TAB
// separated, the detail's line breaks written as \n) per event-log entry,
// as it is written: the VM may end the process at any moment.
#include <windows.h>

#include <jni.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "FakeEventLog.h"
#include "Kernel.h"
#include "LaunchLayout.h"
#include "OutputLog.h"
#include "ProductProfile.h"

extern "C" HMODULE WINAPI __real_LoadLibraryA(LPCSTR path);

extern "C" HMODULE WINAPI __wrap_LoadLibraryA(LPCSTR path) {
    printf("LoadLibraryA\t%s\n", path);
    fflush(stdout);
    return __real_LoadLibraryA(path);
}

namespace {

// Watches the module directory for the init file being opened and closed.
int WatchInitFile() {
    char* directory = GetModuleDirectory();
    std::string posixDirectory = directory;
    free(directory);
    for (char& c : posixDirectory)
        if (c == '\\') c = '/';
    int watch = inotify_init1(IN_NONBLOCK);
    inotify_add_watch(watch, posixDirectory.c_str(), IN_OPEN | IN_CLOSE);
    return watch;
}

void PrintInitFileAccess(int watch) {
    bool opened = false;
    bool closed = false;
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    ssize_t length;
    while ((length = read(watch, buffer, sizeof buffer)) > 0) {
        for (char* at = buffer; at < buffer + length;) {
            const inotify_event* event = reinterpret_cast<const inotify_event*>(at);
            if (event->len > 0 && strcmp(event->name, Profile.initFileName) == 0) {
                if (event->mask & IN_OPEN) opened = true;
                if (event->mask & IN_CLOSE) closed = true;
            }
            at += sizeof(inotify_event) + event->len;
        }
    }
    printf("initFileOpened=%d\ninitFileClosed=%d\n", opened ? 1 : 0, closed ? 1 : 0);
}

// An event string on one output line: its line breaks as "\n", its TABs
// as "\t".
std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) line += c == '\n' ? std::string("\\n") : c == '\t' ? std::string("\\t") : std::string(1, c);
    return line;
}

// Whether the VM, if one was created, still has an exception pending on this
// thread: asked through the library's own JNI_GetCreatedJavaVMs.
void PrintExceptionPending() {
    char* directory = GetModuleDirectory();
    std::string library = std::string(directory) + "\\server\\jvm.dll";
    free(directory);
    HMODULE handle = __real_LoadLibraryA(library.c_str());
    typedef jint(JNICALL * GetCreatedVms)(JavaVM**, jsize, jsize*);
    auto getCreatedVms = handle != nullptr ? reinterpret_cast<GetCreatedVms>(reinterpret_cast<void (*)(void)>(
                                                 GetProcAddress(handle, "JNI_GetCreatedJavaVMs")))
                                           : nullptr;
    JavaVM* vm = nullptr;
    jsize count = 0;
    if (getCreatedVms == nullptr || getCreatedVms(&vm, 1, &count) != JNI_OK || count != 1) return;
    JNIEnv* env = nullptr;
    if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_4) != JNI_OK) return;
    printf("exceptionPending=%d\n", env->ExceptionCheck() == JNI_TRUE ? 1 : 0);
}

}  // namespace

void PrintReport(const RecordedEvent& event) {
    printf("report\t%s\t%u\t%u\t%u", event.source.c_str(), static_cast<unsigned>(event.type),
           static_cast<unsigned>(event.category), static_cast<unsigned>(event.eventId));
    for (const std::string& text : event.strings) printf("\t%s", OneLine(text).c_str());
    printf("\n");
    fflush(stdout);
}

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "console";
    FakeEventLog::OnEvent(PrintReport);
    int watch = WatchInitFile();
    bool started = false;
    if (mode == "servicelog") {
        // The log takes descriptors 1 and 2; the driver keeps a copy of its own.
        fflush(stdout);
        FILE* driverOutput = fdopen(dup(1), "w");
        OpenOutputLog();
        stdout = driverOutput;
        mode = "service";
    }
    if (mode == "service") {
        std::thread serviceThread([&started] {
            started = StartKernel();
            DetachFromVm();
        });
        serviceThread.join();
    } else {
        started = StartKernel();
    }
    fflush(stdout);
    printf("started=%d\n", started ? 1 : 0);
    char directory[4096];
    printf("cwd=%s\n", getcwd(directory, sizeof directory) != nullptr ? directory : "?");
    PrintInitFileAccess(watch);
    if (mode == "start") PrintExceptionPending();
    fflush(stdout);
    if (started && mode != "start") StopKernel();
    EndOutputLog();
    printf("done\n");
    fflush(stdout);
    return 0;
}
