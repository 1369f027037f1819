#include "Kernel.h"

#include <jni.h>
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "EndReports.h"
#include "InitFileWarning.h"
#include "InstallationAccess.h"
#include "JvmOptions.h"
#include "LaunchLayout.h"
#include "ProductProfile.h"
#include "StartFailures.h"
#include "VmEnding.h"
#include "VmOutput.h"

// Handles of the running kernel, filled by StartKernel and used by
// StopKernel, possibly on another thread. Never cleared. kernel is a global
// reference, valid on every thread; env is the interface pointer of the
// thread that runs StartKernel, and of no other.
struct KernelBinding {
    JavaVM* vm;
    JNIEnv* env;
    jclass kernelClass;
    jmethodID constructorId;
    jmethodID startId;
    jmethodID stopId;
    jobject kernel;
};

static KernelBinding Kernel;

// The options the VM was created with. The array and the init-file texts
// are kept for the life of the process, like the VM itself.
static JvmOptionList VmOptions;

static const char kLibraryBelowModuleDirectory[] = "\\server\\jvm.dll";
static const char kKernelMethodSignature[] = "()V";

typedef jint(JNICALL* GetDefaultJavaVMInitArgsFunction)(void* args);
typedef jint(JNICALL* CreateJavaVMFunction)(JavaVM** vm, void** env, void* args);

// GetProcAddress hands back a generic function pointer; going through
// void (*)(void) tells the compiler the change of type is meant.
template <typename Function>
static Function LookUpEntryPoint(HMODULE library, const char* name) {
    typedef void (*AnyFunction)(void);
    return reinterpret_cast<Function>(reinterpret_cast<AnyFunction>(GetProcAddress(library, name)));
}

// The module directory followed by "\server\jvm.dll": the directory ends in
// a backslash, and the doubled one is passed on as it stands.
char* BuildLibraryPath(const char* moduleDirectory) {
    // No known directory, no library: the load fails rather than searching.
    if (moduleDirectory == nullptr || moduleDirectory[0] == '\0') return nullptr;
    size_t directoryLength = strlen(moduleDirectory);
    char* path = static_cast<char*>(malloc(directoryLength + sizeof kLibraryBelowModuleDirectory));
    if (path == nullptr) return nullptr;
    memcpy(path, moduleDirectory, directoryLength);
    memcpy(path + directoryLength, kLibraryBelowModuleDirectory, sizeof kLibraryBelowModuleDirectory);
    return path;
}

// GetProcAddress hands back, and the VM's hook options take, a generic
// pointer; going through void (*)(void) tells the compiler the change of
// type is meant.
template <typename Function>
static void* HookAddress(Function function) {
    typedef void (*AnyFunction)(void);
    return reinterpret_cast<void*>(reinterpret_cast<AnyFunction>(function));
}

static const VmHooks kVmHooks = {HookAddress(VmPrintHook), HookAddress(VmExitHook), HookAddress(VmAbortHook)};

// A VM of Java 9 or later knows JNI version 9; an older one refuses it.
static VmGeneration AskGeneration(GetDefaultJavaVMInitArgsFunction getDefaultArgs) {
    JavaVMInitArgs question;
    memset(&question, 0, sizeof question);
    question.version = JNI_VERSION_9;
    return getDefaultArgs(&question) == JNI_OK ? ModularVm : ClassicVm;
}

VmLibraryAnswer AskVmLibrary(HMODULE library, JavaVMInitArgs* args, jint* result, VmGeneration* generation) {
    GetDefaultJavaVMInitArgsFunction getDefaultArgs =
        LookUpEntryPoint<GetDefaultJavaVMInitArgsFunction>(library, "JNI_GetDefaultJavaVMInitArgs");
    if (getDefaultArgs == nullptr) return VmLibraryLacksDefaultArgs;
    args->version = JNI_VERSION_1_4;
    *result = getDefaultArgs(args);
    if (*result != JNI_OK) return VmLibraryRefusedDefaultArgs;
    *generation = AskGeneration(getDefaultArgs);
    return VmLibraryAnswered;
}

static bool GetDefaultArgs(HMODULE library, const char* libraryPath, JavaVMInitArgs* args, VmGeneration* generation) {
    jint result = JNI_OK;
    switch (AskVmLibrary(library, args, &result, generation)) {
        case VmLibraryLacksDefaultArgs:
            ReportDefaultArgsFailure(libraryPath, "JNI_GetDefaultJavaVMInitArgs", JNI_OK);
            return false;
        case VmLibraryRefusedDefaultArgs:
            ReportDefaultArgsFailure(libraryPath, nullptr, result);
            return false;
        case VmLibraryAnswered:
            break;
    }
    return true;
}

JvmOptionList BuildStartOptions(const char* moduleDirectory, VmGeneration generation,
                                InitFileMisreadings* misreadings) {
    return BuildJvmOptionList(moduleDirectory, Profile.initFileName, generation, kVmHooks, misreadings);
}

static bool CreateVm(HMODULE library, const char* libraryPath, JavaVMInitArgs* args) {
    static const char kExport[] = "JNI_CreateJavaVM";
    CreateJavaVMFunction createVm = LookUpEntryPoint<CreateJavaVMFunction>(library, kExport);
    if (createVm == nullptr) {
        ReportCreateFailure(libraryPath, kExport, VmOptions, JNI_OK);
        return false;
    }
    if (args->options == nullptr) {
        ReportCreateFailure(libraryPath, nullptr, VmOptions, JNI_ENOMEM);
        return false;
    }
    NoteCreateOptions(&VmOptions);
    EnterKernelStage(KernelCreating);
    jint result = createVm(&Kernel.vm, reinterpret_cast<void**>(&Kernel.env), args);
    if (result < 0) {
        ReportCreateFailure(libraryPath, nullptr, VmOptions, result);
        return false;
    }
    return true;
}

// Clears an exception the last call left pending; true if there was one.
static bool ClearPendingException() {
    if (Kernel.env->ExceptionCheck() != JNI_TRUE) return false;
    Kernel.env->ExceptionClear();
    return true;
}

// A failed lookup leaves NoSuchMethodError pending, and JNI allows no
// further lookup until it is cleared.
static jmethodID LookUpKernelMethod(const char* name) {
    jmethodID method = Kernel.env->GetMethodID(Kernel.kernelClass, name, kKernelMethodSignature);
    if (method == nullptr) ClearPendingException();
    return method;
}

// Looks up all three methods before judging any of them.
static bool BindKernelClass() {
    EnterKernelStage(KernelFindingClass);
    Kernel.kernelClass = Kernel.env->FindClass(Profile.kernelClassName);
    if (Kernel.kernelClass == nullptr) {
        ReportClassNotFound(Kernel.env, Profile.kernelClassName);  // and clears its exception
        return false;
    }
    Kernel.constructorId = LookUpKernelMethod("<init>");
    Kernel.startId = LookUpKernelMethod("start");
    Kernel.stopId = LookUpKernelMethod("stop");
    if (Kernel.constructorId == nullptr || Kernel.startId == nullptr || Kernel.stopId == nullptr) {
        ReportMissingMethods(Profile.kernelClassName, Kernel.constructorId, Kernel.startId, Kernel.stopId);
        return false;
    }
    return true;
}

// Constructs the kernel and keeps it through a global reference: the stop
// may come on another thread, after the starting thread has ended, where
// the constructor's local reference means nothing.
// A failed construction leaves its exception pending for the report.
static bool ConstructKernel() {
    JNIEnv* env = Kernel.env;
    jobject localKernel = env->NewObject(Kernel.kernelClass, Kernel.constructorId);
    if (env->ExceptionCheck() == JNI_TRUE || localKernel == nullptr) return false;
    Kernel.kernel = env->NewGlobalRef(localKernel);
    env->DeleteLocalRef(localKernel);
    return Kernel.kernel != nullptr;
}

static bool ConstructAndStartKernel() {
    EnterKernelStage(KernelStarting);
    if (!ConstructKernel()) {
        ReportStartThrew(Kernel.env);  // and clears the exception
        return false;
    }
    Kernel.env->CallVoidMethod(Kernel.kernel, Kernel.startId);
    if (Kernel.env->ExceptionCheck() == JNI_TRUE) {
        ReportStartThrew(Kernel.env);
        return false;
    }
    EnterKernelStage(KernelRunning);
    EndVmStartOutput();
    return true;
}

// The steps after the library path is known.
static bool StartKernelFrom(const char* moduleDirectory, const char* libraryPath) {
    HMODULE library = libraryPath != nullptr ? LoadLibraryA(libraryPath) : nullptr;
    if (library == nullptr) {
        ReportLoadFailure(moduleDirectory, libraryPath, GetLastError());
        return false;
    }
    JavaVMInitArgs args;
    memset(&args, 0, sizeof args);
    VmGeneration generation = ClassicVm;
    if (!GetDefaultArgs(library, libraryPath, &args, &generation)) return false;

    InitFileMisreadings misreadings;
    VmOptions = BuildStartOptions(moduleDirectory, generation, &misreadings);
    WarnOfMisreadInitFile(moduleDirectory, Profile.initFileName, misreadings);
    args.nOptions = VmOptions.count;
    args.options = VmOptions.options;
    args.ignoreUnrecognized = JNI_FALSE;  // a mistyped init-file option must not pass unnoticed
    if (!CreateVm(library, libraryPath, &args)) return false;

    return BindKernelClass() && ConstructAndStartKernel();
}

bool StartKernel() {
    char* moduleDirectory = GetModuleDirectory();
    WarnOfChangeableInstallation(moduleDirectory);  // and goes on
    char* libraryPath = BuildLibraryPath(moduleDirectory);
    bool started = StartKernelFrom(moduleDirectory, libraryPath);
    ReleaseBootClassPath(&VmOptions);  // the VM has its own copy by now
    free(libraryPath);
    free(moduleDirectory);
    return started;
}

void DetachFromVm() {
    if (Kernel.vm != nullptr) Kernel.vm->DetachCurrentThread();
}

bool StopKernel() {
    if (Kernel.vm == nullptr || Kernel.kernel == nullptr) return true;
    // Gives this thread its own interface pointer (or the one it has); the
    // starting thread's must not be used here, nor overwritten.
    JNIEnv* env = nullptr;
    if (Kernel.vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) return true;
    EnterKernelStage(KernelStopping);
    env->CallVoidMethod(Kernel.kernel, Kernel.stopId);
    if (env->ExceptionCheck() != JNI_TRUE) return true;
    ReportStopThrew(env);  // and clears the exception
    return false;
}
