// The least a program can do to start a kernel: load libjvm, create the VM
// with the given options, find the class, construct it and call start. The
// service host's start-up is timed against this.
//   jvm_start_floor <libjvm> <class, slash form> [option ...]
#include <jni.h>

#include <dlfcn.h>
#include <stdio.h>

#include <vector>

typedef jint(JNICALL* CreateJavaVMFunction)(JavaVM** vm, void** env, void* args);

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s <libjvm> <class> [option ...]\n", argv[0]);
        return 2;
    }
    void* libjvm = dlopen(argv[1], RTLD_NOW | RTLD_GLOBAL);
    if (libjvm == nullptr) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto createVm = reinterpret_cast<CreateJavaVMFunction>(dlsym(libjvm, "JNI_CreateJavaVM"));
    std::vector<JavaVMOption> options;
    for (int i = 3; i < argc; ++i) options.push_back(JavaVMOption{argv[i], nullptr});

    JavaVMInitArgs args;
    args.version = JNI_VERSION_1_4;
    args.nOptions = static_cast<jint>(options.size());
    args.options = options.data();
    args.ignoreUnrecognized = JNI_FALSE;
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (createVm == nullptr || createVm(&vm, reinterpret_cast<void**>(&env), &args) < 0) return 1;

    jclass kernelClass = env->FindClass(argv[2]);
    if (kernelClass == nullptr) return 1;
    jmethodID constructor = env->GetMethodID(kernelClass, "<init>", "()V");
    jmethodID start = env->GetMethodID(kernelClass, "start", "()V");
    if (constructor == nullptr || start == nullptr) return 1;
    jobject kernel = env->NewObject(kernelClass, constructor);
    if (kernel == nullptr) return 1;
    env->CallVoidMethod(kernel, start);
    return env->ExceptionCheck() ? 1 : 0;
}
