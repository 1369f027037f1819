#include "ThrowableText.h"

#include <stddef.h>
#include <stdint.h>

static_assert(sizeof(jchar) == sizeof(uint16_t), "a Java char is one UTF-16 code unit");

enum {
    kMostCauses = 10,        // a chain longer than this is a loop or a framework's nesting
    kStepCapacity = 16,      // the most local references one step holds at once
    kStringChunkUnits = 512  // a Java string is copied out in pieces of this many UTF-16 units
};

static const char kToStringSignature[] = "()Ljava/lang/String;";

// Clears an exception the last call left pending; true if there was one.
static bool Threw(JNIEnv* env) {
    if (env->ExceptionCheck() != JNI_TRUE) return false;
    env->ExceptionClear();
    return true;
}

// A frame of its own for each step, so that no local reference outlives it.
// A VM out of memory refuses the frame with OutOfMemoryError pending.
static bool EnterFrame(JNIEnv* env, jint capacity) {
    if (env->PushLocalFrame(capacity) == 0) return true;
    Threw(env);
    return false;
}

// The method of the object's own class, so that an override is the one called.
static jmethodID MethodOf(JNIEnv* env, jobject object, const char* name, const char* signature) {
    jclass type = env->GetObjectClass(object);
    if (type == nullptr) return nullptr;
    jmethodID method = env->GetMethodID(type, name, signature);
    if (method == nullptr) Threw(env);  // NoSuchMethodError
    env->DeleteLocalRef(type);
    return method;
}

static bool IsHighSurrogate(uint16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// Appends a Java string piece by piece through a buffer of fixed size, with
// CR LF made LF (Java on Windows ends printed lines with CR LF; a detail's
// lines end in LF). A surrogate pair or a CR LF is never split between two
// pieces.
static void AppendJavaString(JNIEnv* env, Detail* detail, jstring text) {
    jsize length = env->GetStringLength(text);
    uint16_t units[kStringChunkUnits];
    for (jsize start = 0; start < length && !detail->cut;) {
        jsize count = length - start;
        if (count > kStringChunkUnits) count = kStringChunkUnits;
        env->GetStringRegion(text, start, count, reinterpret_cast<jchar*>(units));
        if (Threw(env)) return;
        if (start + count < length && (IsHighSurrogate(units[count - 1]) || units[count - 1] == '\r')) --count;
        start += count;
        size_t kept = 0;
        for (jsize i = 0; i < count; ++i) {
            if (units[i] == '\r' && i + 1 < count && units[i + 1] == '\n') continue;
            units[kept++] = units[i];
        }
        AppendUtf16(detail, units, kept);
    }
}

// Appends object.toString(). One that throws is named by what it threw,
// unless this already is the naming of such a throw.
static void AppendToString(JNIEnv* env, Detail* detail, jobject object, bool naming) {
    if (!EnterFrame(env, kStepCapacity)) return;
    jmethodID toString = MethodOf(env, object, "toString", kToStringSignature);
    if (toString != nullptr) {
        jobject text = env->CallObjectMethod(object, toString);
        jthrowable thrown = env->ExceptionOccurred();
        if (thrown != nullptr) {
            env->ExceptionClear();
            AppendText(detail, "(toString threw");
            if (!naming) {
                AppendText(detail, " ");
                AppendToString(env, detail, thrown, true);
            }
            AppendText(detail, ")");
        } else if (text == nullptr) {
            AppendText(detail, "null");  // as printStackTrace would print it
        } else {
            AppendJavaString(env, detail, static_cast<jstring>(text));
        }
    }
    env->PopLocalFrame(nullptr);
}

// The cause of `throwable` as a local reference of the caller's frame; null
// when it has none or the VM cannot say.
static jobject CauseOf(JNIEnv* env, jobject throwable) {
    if (!EnterFrame(env, kStepCapacity)) return nullptr;
    jobject cause = nullptr;
    jmethodID getCause = MethodOf(env, throwable, "getCause", "()Ljava/lang/Throwable;");
    if (getCause != nullptr) {
        cause = env->CallObjectMethod(throwable, getCause);
        if (Threw(env)) cause = nullptr;
    }
    return env->PopLocalFrame(cause);
}

static bool AlreadySeen(JNIEnv* env, const jobject* seen, int count, jobject cause) {
    for (int i = 0; i < count; ++i)
        if (env->IsSameObject(seen[i], cause) == JNI_TRUE) return true;
    return false;
}

// The throwable's toString, then a "Caused by:" line for each cause.
static void AppendCauseChain(JNIEnv* env, Detail* detail, jthrowable throwable) {
    AppendToString(env, detail, throwable, false);
    // The causes are held in a frame of their own, to be compared with each new one.
    if (!EnterFrame(env, kMostCauses + kStepCapacity)) return;
    jobject seen[kMostCauses + 1];
    int count = 0;
    seen[count++] = throwable;
    while (count <= kMostCauses && !detail->cut) {
        jobject cause = CauseOf(env, seen[count - 1]);
        if (cause == nullptr || AlreadySeen(env, seen, count, cause)) break;
        seen[count++] = cause;
        AppendText(detail, "\nCaused by: ");
        AppendToString(env, detail, cause, false);
    }
    env->PopLocalFrame(nullptr);
}

// new <className>(argument), or new <className>() when argument is null.
static jobject Construct(JNIEnv* env, const char* className, const char* signature, jobject argument) {
    jclass type = env->FindClass(className);
    if (type == nullptr) {
        Threw(env);
        return nullptr;
    }
    jobject made = nullptr;
    jmethodID constructor = env->GetMethodID(type, "<init>", signature);
    if (constructor == nullptr) {
        Threw(env);
    } else {
        made = argument != nullptr ? env->NewObject(type, constructor, argument) : env->NewObject(type, constructor);
        if (Threw(env)) made = nullptr;
    }
    env->DeleteLocalRef(type);
    return made;
}

// Calls a method "()V", or "(L...;)V" when argument is not null; true if
// it returned without throwing.
static bool CallVoid(JNIEnv* env, jobject object, const char* name, const char* signature, jobject argument) {
    jmethodID method = MethodOf(env, object, name, signature);
    if (method == nullptr) return false;
    if (argument != nullptr)
        env->CallVoidMethod(object, method, argument);
    else
        env->CallVoidMethod(object, method);
    return !Threw(env);
}

// A blank line, then the stack trace as the VM prints it. A printStackTrace
// that throws part way (a cause's toString, say) has still written the
// lines before: those are kept.
static void AppendStackTrace(JNIEnv* env, Detail* detail, jthrowable throwable) {
    if (!EnterFrame(env, kStepCapacity)) return;
    jobject buffer = Construct(env, "java/io/StringWriter", "()V", nullptr);
    jobject printer =
        buffer != nullptr ? Construct(env, "java/io/PrintWriter", "(Ljava/io/Writer;)V", buffer) : nullptr;
    if (printer != nullptr) {
        CallVoid(env, throwable, "printStackTrace", "(Ljava/io/PrintWriter;)V", printer);
        CallVoid(env, printer, "flush", "()V", nullptr);
        jmethodID toString = MethodOf(env, buffer, "toString", kToStringSignature);
        jobject trace = toString != nullptr ? env->CallObjectMethod(buffer, toString) : nullptr;
        if (Threw(env)) trace = nullptr;
        if (trace != nullptr && env->GetStringLength(static_cast<jstring>(trace)) > 0) {
            AppendText(detail, "\n\n");
            AppendJavaString(env, detail, static_cast<jstring>(trace));
        }
    }
    env->PopLocalFrame(nullptr);
}

void AppendThrowable(JNIEnv* env, Detail* detail, jthrowable throwable, bool withStackTrace) {
    AppendCauseChain(env, detail, throwable);
    if (withStackTrace && !detail->cut) AppendStackTrace(env, detail, throwable);
}

bool AppendPendingThrowable(JNIEnv* env, Detail* detail, bool withStackTrace) {
    jthrowable throwable = env->ExceptionOccurred();
    if (throwable == nullptr) return false;
    env->ExceptionClear();
    AppendThrowable(env, detail, throwable, withStackTrace);
    env->DeleteLocalRef(throwable);
    return true;
}

bool IsInstanceOfClass(JNIEnv* env, jobject object, const char* className) {
    if (!EnterFrame(env, kStepCapacity)) return false;
    jclass type = env->FindClass(className);
    bool instance = false;
    if (type == nullptr)
        Threw(env);  // NoClassDefFoundError, or no memory
    else
        instance = env->IsInstanceOf(object, type) == JNI_TRUE;
    env->PopLocalFrame(nullptr);
    return instance;
}
