// Installed as server/jvm.dll in front of the machine's JDK. Current JDKs
// refuse "-Xbootclasspath/p:", which the products' VMs take, so that one
// option becomes "-Xbootclasspath/a:" with POSIX separators; everything
// else passes through to the JDK's libjvm unchanged.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const char kPrepend[] = "-Xbootclasspath/p:";
const char kAppend[] = "-Xbootclasspath/a:";

void* Jdk() {
    static void* jdk = dlopen(JDK_LIBJVM, RTLD_NOW | RTLD_GLOBAL);
    return jdk;
}

template <typename Function>
Function JdkEntryPoint(const char* name) {
    void* jdk = Jdk();
    return jdk != nullptr ? reinterpret_cast<Function>(dlsym(jdk, name)) : nullptr;
}

std::string Rewritten(const char* option) {
    if (option == nullptr || strncmp(option, kPrepend, sizeof kPrepend - 1) != 0) return option ? option : "";
    std::string rewritten = std::string(kAppend) + (option + sizeof kPrepend - 1);
    for (char& c : rewritten) {
        if (c == ';') c = ':';
        if (c == '\\') c = '/';
    }
    return rewritten;
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) {
    auto getDefaultArgs = JdkEntryPoint<jint(JNICALL*)(void*)>("JNI_GetDefaultJavaVMInitArgs");
    return getDefaultArgs != nullptr ? getDefaultArgs(args) : JNI_ERR;
}

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* argument) {
    auto createVm = JdkEntryPoint<jint(JNICALL*)(JavaVM**, void**, void*)>("JNI_CreateJavaVM");
    if (createVm == nullptr) return JNI_ERR;
    const JavaVMInitArgs* given = static_cast<const JavaVMInitArgs*>(argument);
    // The texts live for the process: the JDK may keep pointers into them.
    auto* texts = new std::vector<std::string>;
    for (jint i = 0; i < given->nOptions; ++i) texts->push_back(Rewritten(given->options[i].optionString));
    auto* options = new std::vector<JavaVMOption>(static_cast<size_t>(given->nOptions));
    for (jint i = 0; i < given->nOptions; ++i) {
        (*options)[i].optionString = const_cast<char*>((*texts)[i].c_str());
        (*options)[i].extraInfo = given->options[i].extraInfo;
    }
    JavaVMInitArgs args = *given;
    args.options = options->data();
    return createVm(vm, env, &args);
}
