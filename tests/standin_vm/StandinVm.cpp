// A stand-in Java VM for tests: the JNI invocation entry points and the few
// environment and VM functions the service hosts use. It records what it is
// handed in standin.log and fails on request from standin.conf, both in the
// directory that holds this library (see README.md).

// The JNI header then declares the invocation entry points as exported.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>
#endif

namespace {

// ---------------------------------------------------------------- platform

#ifdef _WIN32
SRWLOCK lock = SRWLOCK_INIT;
void Lock() { AcquireSRWLockExclusive(&lock); }
void Unlock() { ReleaseSRWLockExclusive(&lock); }
const char kSeparator = '\\';

std::string CurrentDirectory() {
    char buffer[4096];
    DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string("?");
}
#else
pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
void Lock() { pthread_mutex_lock(&lock); }
void Unlock() { pthread_mutex_unlock(&lock); }
const char kSeparator = '/';

std::string CurrentDirectory() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string("?");
}
#endif

struct Guard {
    Guard() { Lock(); }
    ~Guard() { Unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

int anchor;  // an address inside this library, to find the library's own file

std::string LibraryDirectory() {
#ifdef _WIN32
    HMODULE self = nullptr;
    char path[4096] = "";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&anchor), &self))
        GetModuleFileNameA(self, path, sizeof path);
    std::string file = path;
#else
    Dl_info info;
    std::string file = dladdr(&anchor, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
#endif
    size_t cut = file.find_last_of(kSeparator);
    return cut == std::string::npos ? std::string() : file.substr(0, cut + 1);
}

// ------------------------------------------------------------ control file

// True if standin.conf has the line `line`.
bool Configured(const std::string& line) {
    FILE* conf = fopen((LibraryDirectory() + "standin.conf").c_str(), "rb");
    if (conf == nullptr) return false;
    bool found = false;
    char buffer[1024];
    while (fgets(buffer, sizeof buffer, conf) != nullptr) {
        std::string text = buffer;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
        if (text == line) found = true;
    }
    fclose(conf);
    return found;
}

bool Failing(const std::string& step) { return Configured("fail=" + step); }

// ------------------------------------------------------------ the log

void Log(const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& field : fields) {
        if (!line.empty()) line += '\t';
        line += field;
    }
    line += '\n';
    Guard guard;
    FILE* log = fopen((LibraryDirectory() + "standin.log").c_str(), "ab");
    if (log == nullptr) return;
    fwrite(line.data(), 1, line.size(), log);
    fclose(log);
}

std::string Hex(jint value) {
    char text[16];
    snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(value));
    return text;
}

// ------------------------------------------------------------ threads

int nextThreadId = 1;
thread_local int threadId = 0;

int CurrentThread() {
    if (threadId == 0) {
        Guard guard;
        threadId = nextThreadId++;
    }
    return threadId;
}

std::string ThreadField() { return "thread=" + std::to_string(CurrentThread()); }

// ------------------------------------------------------------ objects and references

struct Ref {
    bool global;
    int owner;  // the thread that obtained a local reference
    bool deleted;
    std::string className;
};

struct Method {
    std::string name;
};

// Everything handed out is kept for the life of the process, so a pointer
// the caller hands back can always be looked up without reading through it.
// The registries themselves are never destroyed: a caller may still use
// them while the process exits.
std::set<const void*>& refs = *new std::set<const void*>;
std::map<std::string, Method*>& methods = *new std::map<std::string, Method*>;
std::set<const void*>& methodIds = *new std::set<const void*>;

jobject NewRef(bool global, const std::string& className) {
    int owner = CurrentThread();
    Guard guard;
    Ref* ref = new Ref{global, owner, false, className};
    refs.insert(ref);
    return reinterpret_cast<jobject>(ref);
}

Ref* Lookup(jobject object) {
    Guard guard;
    return refs.count(object) != 0 ? reinterpret_cast<Ref*>(object) : nullptr;
}

std::string RefState(jobject object) {
    if (object == nullptr) return "null";
    Ref* ref = Lookup(object);
    if (ref == nullptr || ref->deleted) return "invalid";
    if (ref->global || ref->owner == CurrentThread()) return "valid";
    return "invalid";
}

jmethodID MethodFor(const std::string& name) {
    Guard guard;
    Method*& method = methods[name];
    if (method == nullptr) {
        method = new Method{name};
        methodIds.insert(method);
    }
    return reinterpret_cast<jmethodID>(method);
}

std::string MethodName(jmethodID id) {
    Guard guard;
    return methodIds.count(id) != 0 ? reinterpret_cast<Method*>(id)->name : std::string("?");
}

// ------------------------------------------------------------ environments

struct ThreadEnv {
    JNIEnv env;  // first, so a JNIEnv* is the ThreadEnv*
    int thread;
    bool exceptionPending;
};

JNINativeInterface_ nativeInterface;
JNIInvokeInterface_ invokeInterface;
JavaVM theVm;
bool vmCreated = false;
std::map<int, ThreadEnv*>& envs = *new std::map<int, ThreadEnv*>;

JNIEnv* EnvOfCurrentThread(bool create) {
    int thread = CurrentThread();
    Guard guard;
    ThreadEnv*& env = envs[thread];
    if (env == nullptr && create) {
        env = new ThreadEnv;
        env->env.functions = &nativeInterface;
        env->thread = thread;
        env->exceptionPending = false;
    }
    return env != nullptr ? &env->env : nullptr;
}

// Notes a call made with another thread's JNIEnv, and hands back the state
// the call works on (that env's, as in a real VM).
ThreadEnv* Enter(JNIEnv* jniEnv, const char* function) {
    ThreadEnv* env = reinterpret_cast<ThreadEnv*>(jniEnv);
    if (env->thread != CurrentThread())
        Log({"WrongThreadEnv", function, ThreadField(), "envThread=" + std::to_string(env->thread)});
    // JNI allows only a few calls while an exception is pending.
    static const std::set<std::string> allowedWhilePending = {"ExceptionCheck", "ExceptionClear", "DeleteLocalRef",
                                                              "DeleteGlobalRef"};
    if (env->exceptionPending && allowedWhilePending.count(function) == 0)
        Log({"CallWithExceptionPending", function, ThreadField()});
    return env;
}

// ------------------------------------------------------------ JNIEnv functions

jclass JNICALL FindClass(JNIEnv* jniEnv, const char* name) {
    ThreadEnv* env = Enter(jniEnv, "FindClass");
    Log({"FindClass", name != nullptr ? name : "(null)", ThreadField()});
    if (Failing("class")) {
        env->exceptionPending = true;  // NoClassDefFoundError
        return nullptr;
    }
    return static_cast<jclass>(NewRef(false, name != nullptr ? name : ""));
}

jmethodID JNICALL GetMethodID(JNIEnv* jniEnv, jclass, const char* name, const char* signature) {
    ThreadEnv* env = Enter(jniEnv, "GetMethodID");
    std::string methodName = name != nullptr ? name : "(null)";
    std::string methodSignature = signature != nullptr ? signature : "(null)";
    Log({"GetMethodID", methodName, methodSignature});
    if (Failing("method-" + methodName) || methodSignature != "()V") {
        env->exceptionPending = true;  // NoSuchMethodError
        return nullptr;
    }
    return MethodFor(methodName);
}

jobject JNICALL NewObjectV(JNIEnv* jniEnv, jclass, jmethodID, va_list) {
    ThreadEnv* env = Enter(jniEnv, "NewObject");
    Log({"NewObject", ThreadField()});
    if (Failing("constructor")) {
        env->exceptionPending = true;
        return nullptr;
    }
    if (Failing("null-object")) return nullptr;
    return NewRef(false, "kernel");
}

jobject JNICALL NewObject(JNIEnv* env, jclass clazz, jmethodID method, ...) {
    va_list args;
    va_start(args, method);
    jobject object = NewObjectV(env, clazz, method, args);
    va_end(args);
    return object;
}

jobject JNICALL NewObjectA(JNIEnv* env, jclass clazz, jmethodID method, const jvalue*) {
    va_list none{};
    return NewObjectV(env, clazz, method, none);
}

void JNICALL CallVoidMethodV(JNIEnv* jniEnv, jobject object, jmethodID method, va_list) {
    ThreadEnv* env = Enter(jniEnv, "CallVoidMethod");
    std::string name = MethodName(method);
    Log({"CallVoidMethod", name, ThreadField(), "ref=" + RefState(object)});
    if ((name == "start" || name == "stop") && Failing(name)) env->exceptionPending = true;
}

void JNICALL CallVoidMethod(JNIEnv* env, jobject object, jmethodID method, ...) {
    va_list args;
    va_start(args, method);
    CallVoidMethodV(env, object, method, args);
    va_end(args);
}

void JNICALL CallVoidMethodA(JNIEnv* env, jobject object, jmethodID method, const jvalue*) {
    va_list none{};
    CallVoidMethodV(env, object, method, none);
}

jboolean JNICALL ExceptionCheck(JNIEnv* jniEnv) {
    ThreadEnv* env = Enter(jniEnv, "ExceptionCheck");
    Log({"ExceptionCheck", env->exceptionPending ? "result=1" : "result=0"});
    return env->exceptionPending ? JNI_TRUE : JNI_FALSE;
}

void JNICALL ExceptionClear(JNIEnv* jniEnv) {
    ThreadEnv* env = Enter(jniEnv, "ExceptionClear");
    Log({"ExceptionClear"});
    env->exceptionPending = false;
}

jobject JNICALL NewGlobalRef(JNIEnv* jniEnv, jobject object) {
    Enter(jniEnv, "NewGlobalRef");
    std::string state = RefState(object);
    Log({"NewGlobalRef", ThreadField(), "ref=" + state});
    if (state != "valid") return nullptr;
    return NewRef(true, Lookup(object)->className);
}

void DeleteRef(JNIEnv* jniEnv, jobject object, const char* function) {
    Enter(jniEnv, function);
    std::string state = RefState(object);
    Log({function, ThreadField(), "ref=" + state});
    if (state == "valid") Lookup(object)->deleted = true;
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject object) { DeleteRef(env, object, "DeleteLocalRef"); }

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject object) { DeleteRef(env, object, "DeleteGlobalRef"); }

// ------------------------------------------------------------ JavaVM functions

jint JNICALL AttachCurrentThread(JavaVM*, void** penv, void*) {
    Log({"AttachCurrentThread", ThreadField()});
    *penv = EnvOfCurrentThread(true);
    return JNI_OK;
}

jint JNICALL DetachCurrentThread(JavaVM*) {
    Log({"DetachCurrentThread", ThreadField()});
    int thread = CurrentThread();
    Guard guard;
    envs.erase(thread);  // the old env stays allocated: a stale pointer must not crash the caller
    return JNI_OK;
}

jint JNICALL GetEnv(JavaVM*, void** penv, jint) {
    Log({"GetEnv", ThreadField()});
    *penv = EnvOfCurrentThread(false);
    return *penv != nullptr ? JNI_OK : JNI_EDETACHED;
}

jint JNICALL DestroyJavaVM(JavaVM*) { return JNI_OK; }

void FillTables() {
    nativeInterface.FindClass = FindClass;
    nativeInterface.GetMethodID = GetMethodID;
    nativeInterface.NewObject = NewObject;
    nativeInterface.NewObjectV = NewObjectV;
    nativeInterface.NewObjectA = NewObjectA;
    nativeInterface.CallVoidMethod = CallVoidMethod;
    nativeInterface.CallVoidMethodV = CallVoidMethodV;
    nativeInterface.CallVoidMethodA = CallVoidMethodA;
    nativeInterface.ExceptionCheck = ExceptionCheck;
    nativeInterface.ExceptionClear = ExceptionClear;
    nativeInterface.NewGlobalRef = NewGlobalRef;
    nativeInterface.DeleteLocalRef = DeleteLocalRef;
    nativeInterface.DeleteGlobalRef = DeleteGlobalRef;
    invokeInterface.AttachCurrentThread = AttachCurrentThread;
    invokeInterface.DetachCurrentThread = DetachCurrentThread;
    invokeInterface.GetEnv = GetEnv;
    invokeInterface.DestroyJavaVM = DestroyJavaVM;
    theVm.functions = &invokeInterface;
}

// A classic VM (the default) knows the versions up to 1.8; a modular one
// (standin.conf "vm=modular") also 9 and each later major version to 24.
bool SupportedVersion(jint version) {
    bool classic = version == JNI_VERSION_1_1 || version == JNI_VERSION_1_2 || version == JNI_VERSION_1_4 ||
                   version == JNI_VERSION_1_6 || version == JNI_VERSION_1_8;
    bool modular = (version & 0xffff) == 0 && version >= 0x00090000 && version <= 0x00180000;
    return classic || (modular && Configured("vm=modular"));
}

}  // namespace

// ---------------------------------------------------------------- exports

extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* argument) {
    auto* args = static_cast<JavaVMInitArgs*>(argument);
    CurrentThread();
    Log({"GetDefaultJavaVMInitArgs", "version=" + Hex(args->version), "cwd=" + CurrentDirectory()});
    if (Failing("version") || !SupportedVersion(args->version)) return JNI_EVERSION;
    return JNI_OK;
}

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* argument) {
    auto* args = static_cast<JavaVMInitArgs*>(argument);
    CurrentThread();
    Log({"CreateJavaVM", "cwd=" + CurrentDirectory(), "nOptions=" + std::to_string(args->nOptions)});
    for (jint i = 0; i < args->nOptions; ++i) {
        const char* text = args->options[i].optionString;
        Log({"option", std::to_string(i), text != nullptr ? text : "(null)"});
    }
    if (Failing("create")) return JNI_ERR;
    {
        Guard guard;
        if (!vmCreated) FillTables();
        vmCreated = true;
    }
    *pvm = &theVm;
    *penv = EnvOfCurrentThread(true);
    return JNI_OK;
}

extern "C" JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize capacity, jsize* count) {
    Guard guard;
    if (count != nullptr) *count = vmCreated ? 1 : 0;
    if (vmCreated && capacity > 0 && vms != nullptr) vms[0] = &theVm;
    return JNI_OK;
}
