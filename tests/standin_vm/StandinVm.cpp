// A stand-in Java VM for tests: the JNI invocation entry points and the few
// environment and VM functions the service hosts use. It records what it is
// handed in standin.log and fails on request from standin.conf, both in the
// directory that holds this library (see README.md).

// The JNI header then declares the invocation entry points as exported.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <time.h>
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

// The lines of standin.conf without their line ends and trailing blanks;
// none when there is no such file.
std::vector<std::string> ConfLines() {
    std::vector<std::string> lines;
    FILE* conf = fopen((LibraryDirectory() + "standin.conf").c_str(), "rb");
    if (conf == nullptr) return lines;
    std::string text;
    char buffer[4096];
    for (size_t count; (count = fread(buffer, 1, sizeof buffer, conf)) > 0;) text.append(buffer, count);
    fclose(conf);
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// True if standin.conf has the line `line`.
bool Configured(const std::string& line) {
    for (const std::string& text : ConfLines())
        if (text == line) return true;
    return false;
}

// The values of the lines `key=<value>`, in the order given.
std::vector<std::string> ConfValues(const std::string& key) {
    std::vector<std::string> values;
    for (const std::string& text : ConfLines())
        if (text.compare(0, key.size() + 1, key + "=") == 0) values.push_back(text.substr(key.size() + 1));
    return values;
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

const char kStringClass[] = "java/lang/String";
const char kThrowableClass[] = "java/lang/Throwable";
const char kDefaultThrowable[] = "java.lang.RuntimeException: stand-in failure";
const char kToStringFailure[] = "java.lang.UnsupportedOperationException: stand-in toString failure";
const char kInitializerError[] = "java.lang.ExceptionInInitializerError";

// What a reference refers to. Several references may refer to one object.
struct Object {
    std::string className;  // e.g. java/io/StringWriter; of a class object, the class it stands for
    bool isClass;
    std::u16string text;  // a string's characters, a StringWriter's contents, a throwable's toString
    Object* cause;        // a throwable's; itself when it has none, as in Java
    Object* writer;       // the StringWriter a PrintWriter writes to
    bool fromConf;        // a throwable standin.conf describes, whose toString fail=tostring breaks
    std::string kind;     // a throwable's own class beside java/lang/Throwable, if any
};

struct Ref {
    bool global;
    int owner;  // the thread that obtained a local reference
    bool deleted;
    Object* object;
};

struct Method {
    std::string name;
    std::string signature;
};

// Everything handed out is kept for the life of the process, so a pointer
// the caller hands back can always be looked up without reading through it.
// The registries themselves are never destroyed: a caller may still use
// them while the process exits.
std::set<const void*>& refs = *new std::set<const void*>;
std::map<std::string, Method*>& methods = *new std::map<std::string, Method*>;
std::set<const void*>& methodIds = *new std::set<const void*>;
std::vector<Object*>& objects = *new std::vector<Object*>;

Object* Make(const std::string& className, bool isClass = false) {
    Object* object = new Object{className, isClass, u"", nullptr, nullptr, false, ""};
    Guard guard;
    objects.push_back(object);
    return object;
}

// standin.conf is UTF-8; the VM's strings are UTF-16. Bytes that do not
// decode are taken one by one, so a conf can also spell a lone surrogate.
std::u16string Utf16(const std::string& utf8) {
    std::u16string units;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char lead = static_cast<unsigned char>(utf8[i]);
        size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (i + length > utf8.size()) length = 1;
        uint32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) codePoint = (codePoint << 6) | (utf8[i + k] & 0x3F);
        i += length;
        if (codePoint >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(codePoint);
        }
    }
    return units;
}

// A throwable's text in standin.conf, where \uXXXX (four hex digits) is
// that UTF-16 unit, as in Java source: the way to write a U+0000.
std::u16string ConfText(const std::string& text) {
    std::u16string units;
    size_t done = 0;
    for (size_t at = 0; (at = text.find("\\u", at)) != std::string::npos;) {
        if (at + 6 > text.size() || text.find_first_not_of("0123456789abcdefABCDEF", at + 2) < at + 6) {
            ++at;
            continue;
        }
        units += Utf16(text.substr(done, at - done));
        units += static_cast<char16_t>(strtoul(text.substr(at + 2, 4).c_str(), nullptr, 16));
        at = done = at + 6;
    }
    return units + Utf16(text.substr(done));
}

Object* MakeString(const std::u16string& text) {
    Object* string = Make(kStringClass);
    string->text = text;
    return string;
}

Object* MakeThrowable(const std::string& text, bool fromConf) {
    Object* throwable = Make(kThrowableClass);
    throwable->text = fromConf ? ConfText(text) : Utf16(text);
    throwable->cause = throwable;
    throwable->fromConf = fromConf;
    return throwable;
}

bool IsThrowable(const Object* object) { return !object->isClass && object->className == kThrowableClass; }

Object* CauseOf(const Object* throwable) { return throwable->cause != throwable ? throwable->cause : nullptr; }

// The exception standin.conf describes, made anew at each throw: the
// "throwable=" text, a cause for each "cause=" line, and with "cycle=<n>"
// the last of them caused by the n-th (0: the thrown one).
Object* ConfiguredThrowable() {
    std::vector<std::string> texts = ConfValues("throwable");
    std::vector<Object*> chain = {MakeThrowable(texts.empty() ? kDefaultThrowable : texts.front(), true)};
    for (const std::string& text : ConfValues("cause")) {
        chain.push_back(MakeThrowable(text, true));
        chain[chain.size() - 2]->cause = chain.back();
    }
    std::vector<std::string> cycle = ConfValues("cycle");
    if (!cycle.empty()) {
        size_t to = strtoul(cycle.front().c_str(), nullptr, 10);
        if (to < chain.size()) chain.back()->cause = chain[to];
    }
    return chain.front();
}

// What toString gives, as java.lang.Object's or the class's own would.
std::u16string TextOf(const Object* object) {
    std::string dotted = object->className;
    for (char& c : dotted)
        if (c == '/') c = '.';
    if (object->isClass) return Utf16("class " + dotted);
    if (IsThrowable(object) || object->className == kStringClass || object->className == "java/io/StringWriter")
        return object->text;
    return Utf16(dotted + "@1b6d3586");
}

// Classes of the Java library always exist and always construct, whatever
// standin.conf says of the kernel's.
bool IsLibraryClass(const std::string& className) { return className.compare(0, 5, "java/") == 0; }

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

// The object a valid reference refers to; null for any other.
Object* ObjectOf(jobject object) { return RefState(object) == "valid" ? Lookup(object)->object : nullptr; }

jmethodID MethodFor(const std::string& name, const std::string& signature) {
    Guard guard;
    Method*& method = methods[name + " " + signature];
    if (method == nullptr) {
        method = new Method{name, signature};
        methodIds.insert(method);
    }
    return reinterpret_cast<jmethodID>(method);
}

std::string MethodName(jmethodID id) {
    Guard guard;
    return methodIds.count(id) != 0 ? reinterpret_cast<Method*>(id)->name : std::string("?");
}

// True for a method whose (one) argument is an object.
bool TakesObject(jmethodID id) {
    Guard guard;
    return methodIds.count(id) != 0 && reinterpret_cast<Method*>(id)->signature.compare(0, 2, "(L") == 0;
}

// ------------------------------------------------------------ environments

// Local references are made in the innermost frame of their thread. The
// bottom frame, never popped, has the 16 references JNI guarantees.
struct Frame {
    jint capacity;
    std::vector<Ref*> refs;
    bool overCapacity;  // and logged so
};

struct ThreadState {
    int thread;
    Object* exception;      // the one pending, or null
    std::string unchecked;  // a call that ran Java code, not yet followed by asking for its exception
    std::vector<Frame> frames;
};

struct ThreadEnv {
    JNIEnv env;  // first, so a JNIEnv* is the ThreadEnv*
    ThreadState* state;
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
        env->state = new ThreadState{thread, nullptr, "", {Frame{16, {}, false}}};
    }
    return env != nullptr ? &env->env : nullptr;
}

ThreadState* StateOf(JNIEnv* jniEnv) { return reinterpret_cast<ThreadEnv*>(jniEnv)->state; }

// A new reference to `object`; a local one joins the innermost frame of
// env, which notes once when it holds more than it was made for.
jobject NewRef(ThreadState* env, bool global, Object* object) {
    int owner = CurrentThread();
    Ref* ref = new Ref{global, owner, false, object};
    size_t live = 0;
    jint capacity = 0;
    {
        Guard guard;
        refs.insert(ref);
        if (!global) {
            Frame& frame = env->frames.back();
            frame.refs.push_back(ref);
            for (const Ref* held : frame.refs) live += held->deleted ? 0 : 1;
            if (live <= static_cast<size_t>(frame.capacity) || frame.overCapacity) live = 0;
            frame.overCapacity = frame.overCapacity || live > 0;
            capacity = frame.capacity;
        }
    }
    if (live > 0)
        Log({"LocalRefsOverCapacity", "count=" + std::to_string(live), "capacity=" + std::to_string(capacity),
             ThreadField()});
    return reinterpret_cast<jobject>(ref);
}

// Notes a call made with another thread's JNIEnv, or one JNI forbids at
// this point, and hands back the state the call works on (that env's, as
// in a real VM).
ThreadState* Enter(JNIEnv* jniEnv, const char* function) {
    ThreadState* env = StateOf(jniEnv);
    if (env->thread != CurrentThread())
        Log({"WrongThreadEnv", function, ThreadField(), "envThread=" + std::to_string(env->thread)});
    // JNI allows only a few calls while an exception is pending.
    static const std::set<std::string> allowedWhilePending = {"ExceptionOccurred", "ExceptionCheck",  "ExceptionClear",
                                                              "DeleteLocalRef",    "DeleteGlobalRef", "PushLocalFrame",
                                                              "PopLocalFrame"};
    bool allowed = allowedWhilePending.count(function) != 0;
    if (env->exception != nullptr && !allowed) Log({"CallWithExceptionPending", function, ThreadField()});
    // After Java code ran, the caller asks whether it threw before going
    // on, as -Xcheck:jni insists; it is told once.
    std::string question = function;
    if (question == "ExceptionCheck" || question == "ExceptionOccurred" || question == "ExceptionClear") {
        env->unchecked.clear();
    } else if (!env->unchecked.empty() && !allowed) {
        Log({"CallWithoutExceptionCheck", function, "after=" + env->unchecked, ThreadField()});
        env->unchecked.clear();
    }
    return env;
}

void Throw(ThreadState* env, Object* throwable) { env->exception = throwable; }

// ------------------------------------------------------------ JNIEnv functions

jclass JNICALL FindClass(JNIEnv* jniEnv, const char* name) {
    ThreadState* env = Enter(jniEnv, "FindClass");
    std::string className = name != nullptr ? name : "";
    Log({"FindClass", name != nullptr ? name : "(null)", ThreadField()});
    if ((Failing("class") && !IsLibraryClass(className)) || Failing("find-" + className)) {
        Throw(env, MakeThrowable("java.lang.NoClassDefFoundError: " + className, false));
        return nullptr;
    }
    // The class was found, and its static initializer threw the configured
    // throwable, which the VM wraps.
    if (Failing("initializer") && !IsLibraryClass(className)) {
        Object* wrapper = MakeThrowable(kInitializerError, false);
        wrapper->kind = "java/lang/ExceptionInInitializerError";
        wrapper->cause = ConfiguredThrowable();
        Throw(env, wrapper);
        return nullptr;
    }
    return static_cast<jclass>(NewRef(env, false, Make(className, true)));
}

// Every "()V" method exists, and these of the Java library.
bool KnownMethod(const std::string& name, const std::string& signature) {
    static const std::set<std::string> library = {"toString ()Ljava/lang/String;", "getCause ()Ljava/lang/Throwable;",
                                                  "printStackTrace (Ljava/io/PrintWriter;)V",
                                                  "<init> (Ljava/io/Writer;)V"};
    return signature == "()V" || library.count(name + " " + signature) != 0;
}

jmethodID JNICALL GetMethodID(JNIEnv* jniEnv, jclass, const char* name, const char* signature) {
    ThreadState* env = Enter(jniEnv, "GetMethodID");
    std::string methodName = name != nullptr ? name : "(null)";
    std::string methodSignature = signature != nullptr ? signature : "(null)";
    Log({"GetMethodID", methodName, methodSignature});
    if (Failing("method-" + methodName) || !KnownMethod(methodName, methodSignature)) {
        Throw(env, MakeThrowable("java.lang.NoSuchMethodError: " + methodName, false));
        return nullptr;
    }
    return MethodFor(methodName, methodSignature);
}

jclass JNICALL GetObjectClass(JNIEnv* jniEnv, jobject object) {
    ThreadState* env = Enter(jniEnv, "GetObjectClass");
    Log({"GetObjectClass", ThreadField(), "ref=" + RefState(object)});
    Object* self = ObjectOf(object);
    if (self == nullptr) return nullptr;
    return static_cast<jclass>(NewRef(env, false, Make(self->isClass ? "java/lang/Class" : self->className, true)));
}

jobject Construct(JNIEnv* jniEnv, jclass type, jmethodID method, jobject argument) {
    ThreadState* env = Enter(jniEnv, "NewObject");
    std::vector<std::string> line = {"NewObject", ThreadField()};
    bool takesObject = TakesObject(method);
    if (takesObject) line.push_back("arg=" + RefState(argument));
    Log(line);
    env->unchecked = "NewObject";
    Object* typeObject = ObjectOf(type);
    std::string className = typeObject != nullptr && typeObject->isClass ? typeObject->className : "kernel";
    if (IsLibraryClass(className)) {
        if (Failing("new-" + className)) {
            Throw(env, MakeThrowable("java.lang.OutOfMemoryError: Java heap space", false));
            return nullptr;
        }
    } else {
        if (Failing("constructor")) {
            Throw(env, ConfiguredThrowable());
            return nullptr;
        }
        if (Failing("null-object")) return nullptr;
    }
    Object* made = Make(className);
    if (takesObject) made->writer = ObjectOf(argument);
    return NewRef(env, false, made);
}

jobject JNICALL NewObjectV(JNIEnv* env, jclass type, jmethodID method, va_list args) {
    return Construct(env, type, method, TakesObject(method) ? va_arg(args, jobject) : nullptr);
}

jobject JNICALL NewObject(JNIEnv* env, jclass type, jmethodID method, ...) {
    va_list args;
    va_start(args, method);
    jobject object = NewObjectV(env, type, method, args);
    va_end(args);
    return object;
}

jobject JNICALL NewObjectA(JNIEnv* env, jclass type, jmethodID method, const jvalue* args) {
    return Construct(env, type, method, TakesObject(method) && args != nullptr ? args[0].l : nullptr);
}

// Writes what Throwable.printStackTrace would: the throwable, a frame,
// then each cause with a frame of its own.
void PrintStackTrace(ThreadState* env, Object* throwable, Object* printer) {
    if (throwable == nullptr || !IsThrowable(throwable) || printer == nullptr || printer->writer == nullptr) return;
    if (throwable->fromConf && Failing("tostring")) {
        Throw(env, MakeThrowable(kToStringFailure, false));
        return;
    }
    const std::u16string newline = Configured("newline=crlf") ? u"\r\n" : u"\n";
    std::u16string& out = printer->writer->text;
    out += throwable->text + newline + u"\tat com.halvern.standin.Kernel.start(Kernel.java:42)" + newline;
    std::vector<Object*> printed = {throwable};
    for (Object* cause = CauseOf(throwable); cause != nullptr; cause = CauseOf(cause)) {
        if (std::find(printed.begin(), printed.end(), cause) != printed.end()) {
            out += u"Caused by: [CIRCULAR REFERENCE: " + cause->text + u"]" + newline;
            break;
        }
        printed.push_back(cause);
        std::u16string level = Utf16(std::to_string(printed.size() - 1));
        out += u"Caused by: " + cause->text + newline + u"\tat com.halvern.standin.Kernel.step" + level +
               u"(Kernel.java:" + level + u")" + newline + u"\t... 1 more" + newline;
    }
}

// ------------------------------------------------------------ the host's hooks

// What the "vfprintf", "exit" and "abort" options handed over; the VM
// prints and ends the process through them, as HotSpot does.
typedef jint(JNICALL* PrintHook)(FILE* stream, const char* format, va_list arguments);
typedef void(JNICALL* ExitHook)(jint code);
typedef void(JNICALL* AbortHook)(void);

PrintHook printHook;
ExitHook exitHook;
AbortHook abortHook;
std::string errorFilePattern;  // -XX:ErrorFile, the last one given

void TakeHooks(const JavaVMInitArgs* args) {
    for (jint i = 0; i < args->nOptions; ++i) {
        const char* text = args->options[i].optionString;
        void* function = args->options[i].extraInfo;
        if (text == nullptr) continue;
        if (strcmp(text, "vfprintf") == 0) printHook = reinterpret_cast<PrintHook>(function);
        if (strcmp(text, "exit") == 0) exitHook = reinterpret_cast<ExitHook>(function);
        if (strcmp(text, "abort") == 0) abortHook = reinterpret_cast<AbortHook>(function);
        if (strncmp(text, "-XX:ErrorFile=", 14) == 0) errorFilePattern = text + 14;
    }
}

void Print(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    if (printHook != nullptr) {
        printHook(stderr, format, arguments);
    } else {
        vfprintf(stderr, format, arguments);
    }
    va_end(arguments);
}

// The VM ends the process: the hook first, then the process ends at once
// (no static destructors run under the host's other threads).
// HotSpot's name for its error report: %p is the process id, %% a percent sign.
std::string ExpandedReportName(const std::string& pattern) {
#ifdef _WIN32
    std::string pid = std::to_string(GetCurrentProcessId());
#else
    std::string pid = std::to_string(getpid());
#endif
    std::string name;
    for (size_t at = 0; at < pattern.size(); ++at) {
        if (pattern[at] == '%' && at + 1 < pattern.size() && (pattern[at + 1] == 'p' || pattern[at + 1] == '%')) {
            name += pattern[++at] == 'p' ? pid : "%";
        } else {
            name += pattern[at] == '\\' ? kSeparator : pattern[at];
        }
    }
    return name;
}

std::string TempFolder() {
#ifdef _WIN32
    char buffer[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
#else
    const char* folder = getenv("TMP");
    if (folder == nullptr || folder[0] == '\0') folder = getenv("TEMP");
    if (folder == nullptr || folder[0] == '\0') folder = "/tmp";
    return std::string(folder) + "/";
#endif
}

// A fatal error's report, written before the abort hook is called, as
// HotSpot does: "crash-report" where HotSpot writes it first (-XX:ErrorFile,
// else the working directory), "crash-report=temp" in the temp folder, where
// HotSpot writes it when it cannot write there.
void WriteCrashReport() {
    std::string path;
    if (Configured("crash-report=temp")) {
        path = TempFolder() + ExpandedReportName("hs_err_pid%p.log");
    } else if (Configured("crash-report")) {
        path = errorFilePattern.empty() ? CurrentDirectory() + kSeparator + ExpandedReportName("hs_err_pid%p.log")
                                        : ExpandedReportName(errorFilePattern);
    } else {
        return;
    }
    FILE* report = fopen(path.c_str(), "wb");
    if (report != nullptr) {
        fputs("# A fatal error has been detected by the stand-in VM\n", report);
        fclose(report);
    }
    Log({"CrashReport", path, report != nullptr ? "written" : "failed"});
}

[[noreturn]] void AbortVm() {
    Log({"VmAbort", ThreadField()});
    WriteCrashReport();
    if (abortHook != nullptr) abortHook();
    _Exit(1);
}

// With abort-after-exit the VM crashes on its way out: the exit hook, then
// the abort hook, as a VM does whose exit fails.
[[noreturn]] void ExitVm(int code) {
    Log({"VmExit", "code=" + std::to_string(code), ThreadField()});
    if (exitHook != nullptr) exitHook(code);
    if (Configured("abort-after-exit")) AbortVm();
    _Exit(code);
}

// A heap HotSpot cannot reserve: its two lines, the size through the
// formats its platform's C runtime reads.
[[noreturn]] void FailToReserveHeap() {
    Print("Error occurred during initialization of VM\n");
#ifdef _WIN32
    Print("Could not reserve enough space for %I64dKB object heap\n", static_cast<long long>(3145728));
#else
    Print("Could not reserve enough space for %lldKB object heap\n", static_cast<long long>(3145728));
#endif
    AbortVm();
}

// The value of the line key=<number>, if standin.conf has one.
bool ConfNumber(const std::string& key, int* number) {
    std::vector<std::string> values = ConfValues(key);
    if (values.empty()) return false;
    *number = atoi(values[0].c_str());
    return true;
}

void SleepMilliseconds(int milliseconds) {
#ifdef _WIN32
    Sleep(static_cast<DWORD>(milliseconds));
#else
    struct timespec left = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
#endif
}

// A thread of the VM's own that ends the process a moment after the
// kernel's start or stop (method) returned.
[[noreturn]] void EndAfterAMoment(const char* method) {
    SleepMilliseconds(300);
    int code = 0;
    if (ConfNumber(std::string("exit-after-") + method, &code)) {
        Print("stand-in: exiting with code %d\n", code);
        ExitVm(code);
    }
    Print("# A fatal error has been detected by the stand-in VM\n");
    AbortVm();
}

#ifdef _WIN32
DWORD WINAPI EndingThread(LPVOID method) { EndAfterAMoment(static_cast<const char*>(method)); }

void EndLater(const char* method) { CreateThread(nullptr, 0, EndingThread, const_cast<char*>(method), 0, nullptr); }
#else
void* EndingThread(void* method) { EndAfterAMoment(static_cast<const char*>(method)); }

void EndLater(const char* method) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, EndingThread, const_cast<char*>(method)) == 0) pthread_detach(thread);
}
#endif

// What a kernel method does beside its call being logged: take its time
// (sleep-in-<method>=<ms>), then end the process (exit-in-<method>=<code>,
// abort-in-<method>), arrange to end it later (after start, or after stop),
// or throw.
void RunKernelMethod(ThreadState* env, const std::string& name) {
    int code = 0;
    if (ConfNumber("sleep-in-" + name, &code)) SleepMilliseconds(code);
    if (ConfNumber("exit-in-" + name, &code)) ExitVm(code);
    if (Configured("abort-in-" + name)) AbortVm();
    if (Failing(name)) Throw(env, ConfiguredThrowable());
    if (name == "start" && (!ConfValues("exit-after-start").empty() || Configured("abort-after-start"))) {
        EndLater("start");
    }
    if (name == "stop" && !ConfValues("exit-after-stop").empty()) EndLater("stop");
}

void CallVoid(JNIEnv* jniEnv, jobject object, jmethodID method, jobject argument) {
    ThreadState* env = Enter(jniEnv, "CallVoidMethod");
    std::string name = MethodName(method);
    std::vector<std::string> line = {"CallVoidMethod", name, ThreadField(), "ref=" + RefState(object)};
    if (TakesObject(method)) line.push_back("arg=" + RefState(argument));
    Log(line);
    env->unchecked = "CallVoidMethod";
    if (name == "start" || name == "stop") RunKernelMethod(env, name);
    if (name == "printStackTrace") PrintStackTrace(env, ObjectOf(object), ObjectOf(argument));
}

void JNICALL CallVoidMethodV(JNIEnv* env, jobject object, jmethodID method, va_list args) {
    CallVoid(env, object, method, TakesObject(method) ? va_arg(args, jobject) : nullptr);
}

void JNICALL CallVoidMethod(JNIEnv* env, jobject object, jmethodID method, ...) {
    va_list args;
    va_start(args, method);
    CallVoidMethodV(env, object, method, args);
    va_end(args);
}

void JNICALL CallVoidMethodA(JNIEnv* env, jobject object, jmethodID method, const jvalue* args) {
    CallVoid(env, object, method, TakesObject(method) && args != nullptr ? args[0].l : nullptr);
}

// toString and getCause; any other method returns null.
jobject CallObject(JNIEnv* jniEnv, jobject object, jmethodID method) {
    ThreadState* env = Enter(jniEnv, "CallObjectMethod");
    std::string name = MethodName(method);
    Log({"CallObjectMethod", name, ThreadField(), "ref=" + RefState(object)});
    env->unchecked = "CallObjectMethod";
    Object* self = ObjectOf(object);
    if (self == nullptr) return nullptr;
    if (name == "toString") {
        if (self->fromConf && Failing("tostring")) {
            Throw(env, MakeThrowable(kToStringFailure, false));
            return nullptr;
        }
        if (self->fromConf && Failing("tostring-null")) return nullptr;
        return NewRef(env, false, MakeString(TextOf(self)));
    }
    if (name == "getCause" && IsThrowable(self) && CauseOf(self) != nullptr) return NewRef(env, false, CauseOf(self));
    return nullptr;
}

jobject JNICALL CallObjectMethodV(JNIEnv* env, jobject object, jmethodID method, va_list) {
    return CallObject(env, object, method);
}

jobject JNICALL CallObjectMethod(JNIEnv* env, jobject object, jmethodID method, ...) {
    return CallObject(env, object, method);
}

jobject JNICALL CallObjectMethodA(JNIEnv* env, jobject object, jmethodID method, const jvalue*) {
    return CallObject(env, object, method);
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* jniEnv) {
    ThreadState* env = Enter(jniEnv, "ExceptionOccurred");
    Log({"ExceptionOccurred", env->exception != nullptr ? "result=1" : "result=0"});
    return env->exception != nullptr ? static_cast<jthrowable>(NewRef(env, false, env->exception)) : nullptr;
}

jboolean JNICALL ExceptionCheck(JNIEnv* jniEnv) {
    ThreadState* env = Enter(jniEnv, "ExceptionCheck");
    Log({"ExceptionCheck", env->exception != nullptr ? "result=1" : "result=0"});
    return env->exception != nullptr ? JNI_TRUE : JNI_FALSE;
}

void JNICALL ExceptionClear(JNIEnv* jniEnv) {
    ThreadState* env = Enter(jniEnv, "ExceptionClear");
    Log({"ExceptionClear"});
    env->exception = nullptr;
}

jint JNICALL PushLocalFrame(JNIEnv* jniEnv, jint capacity) {
    ThreadState* env = Enter(jniEnv, "PushLocalFrame");
    bool refused = Failing("frame") || capacity < 0;
    Log({"PushLocalFrame", "capacity=" + std::to_string(capacity), ThreadField(),
         refused ? "result=" + std::to_string(JNI_ENOMEM) : "result=0"});
    if (refused) {
        Throw(env, MakeThrowable("java.lang.OutOfMemoryError: Java heap space", false));
        return JNI_ENOMEM;
    }
    Guard guard;
    env->frames.push_back(Frame{capacity, {}, false});
    return JNI_OK;
}

// Deletes every local reference of the innermost frame; `result` comes back
// as a reference of the frame below.
jobject JNICALL PopLocalFrame(JNIEnv* jniEnv, jobject result) {
    ThreadState* env = Enter(jniEnv, "PopLocalFrame");
    Log({"PopLocalFrame", ThreadField(), "ref=" + RefState(result)});
    Object* kept = ObjectOf(result);
    bool pushed;
    {
        Guard guard;
        pushed = env->frames.size() > 1;
        if (pushed) {
            for (Ref* ref : env->frames.back().refs) ref->deleted = true;
            env->frames.pop_back();
        }
    }
    if (!pushed) {
        Log({"PopLocalFrameWithoutPush", ThreadField()});
        return nullptr;
    }
    return kept != nullptr ? NewRef(env, false, kept) : nullptr;
}

// An object is an instance of java/lang/Object and of its own class; a
// throwable also of java/lang/Throwable and of its kind; a class object of
// java/lang/Class. A null object is an instance of every class.
jboolean JNICALL IsInstanceOf(JNIEnv* jniEnv, jobject object, jclass type) {
    Enter(jniEnv, "IsInstanceOf");
    Object* self = ObjectOf(object);
    Object* typeObject = ObjectOf(type);
    std::string typeName = typeObject != nullptr && typeObject->isClass ? typeObject->className : "?";
    bool instance = object == nullptr;
    if (self != nullptr) {
        std::string own = self->isClass ? "java/lang/Class" : self->className;
        instance = typeName == "java/lang/Object" || typeName == own || (IsThrowable(self) && typeName == self->kind);
    }
    Log({"IsInstanceOf", ThreadField(), "ref=" + RefState(object), "class=" + typeName,
         instance ? "result=1" : "result=0"});
    return instance ? JNI_TRUE : JNI_FALSE;
}

jboolean JNICALL IsSameObject(JNIEnv* jniEnv, jobject first, jobject second) {
    Enter(jniEnv, "IsSameObject");
    bool same = ObjectOf(first) == ObjectOf(second);
    Log({"IsSameObject", ThreadField(), "first=" + RefState(first), "second=" + RefState(second),
         same ? "result=1" : "result=0"});
    return same ? JNI_TRUE : JNI_FALSE;
}

jsize JNICALL GetStringLength(JNIEnv* jniEnv, jstring text) {
    Enter(jniEnv, "GetStringLength");
    Log({"GetStringLength", ThreadField(), "ref=" + RefState(text)});
    Object* string = ObjectOf(text);
    return string != nullptr && string->className == kStringClass ? static_cast<jsize>(string->text.size()) : 0;
}

void JNICALL GetStringRegion(JNIEnv* jniEnv, jstring text, jsize start, jsize length, jchar* buffer) {
    ThreadState* env = Enter(jniEnv, "GetStringRegion");
    Log({"GetStringRegion", "start=" + std::to_string(start), "length=" + std::to_string(length), ThreadField(),
         "ref=" + RefState(text)});
    Object* string = ObjectOf(text);
    if (string == nullptr || string->className != kStringClass) return;
    if (start < 0 || length < 0 || static_cast<size_t>(start) + static_cast<size_t>(length) > string->text.size()) {
        Throw(env, MakeThrowable("java.lang.StringIndexOutOfBoundsException", false));
        return;
    }
    for (jsize i = 0; i < length; ++i) buffer[i] = string->text[start + i];
}

jobject JNICALL NewGlobalRef(JNIEnv* jniEnv, jobject object) {
    ThreadState* env = Enter(jniEnv, "NewGlobalRef");
    std::string state = RefState(object);
    Log({"NewGlobalRef", ThreadField(), "ref=" + state});
    if (state != "valid") return nullptr;
    return NewRef(env, true, Lookup(object)->object);
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
    nativeInterface.CallObjectMethod = CallObjectMethod;
    nativeInterface.CallObjectMethodV = CallObjectMethodV;
    nativeInterface.CallObjectMethodA = CallObjectMethodA;
    nativeInterface.GetObjectClass = GetObjectClass;
    nativeInterface.IsSameObject = IsSameObject;
    nativeInterface.IsInstanceOf = IsInstanceOf;
    nativeInterface.ExceptionOccurred = ExceptionOccurred;
    nativeInterface.ExceptionCheck = ExceptionCheck;
    nativeInterface.ExceptionClear = ExceptionClear;
    nativeInterface.NewGlobalRef = NewGlobalRef;
    nativeInterface.DeleteLocalRef = DeleteLocalRef;
    nativeInterface.DeleteGlobalRef = DeleteGlobalRef;
    nativeInterface.PushLocalFrame = PushLocalFrame;
    nativeInterface.PopLocalFrame = PopLocalFrame;
    nativeInterface.GetStringLength = GetStringLength;
    nativeInterface.GetStringRegion = GetStringRegion;
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
        std::vector<std::string> line = {"option", std::to_string(i), text != nullptr ? text : "(null)"};
        if (args->options[i].extraInfo != nullptr) line.push_back("extraInfo=set");
        Log(line);
    }
    TakeHooks(args);
    for (const std::string& text : ConfValues("say")) Print("%s\n", text.c_str());
    if (Failing("create-abort")) FailToReserveHeap();
    if (Failing("create-exit")) ExitVm(1);
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

// For tests: the local references of env's thread still live, in all its
// frames; a call that leaves none behind leaves this as it found it.
extern "C" JNIEXPORT jint JNICALL StandinLiveLocalRefs(JNIEnv* env) {
    ThreadState* state = StateOf(env);
    Guard guard;
    jint live = 0;
    for (const Frame& frame : state->frames)
        for (const Ref* ref : frame.refs) live += ref->deleted ? 0 : 1;
    return live;
}
