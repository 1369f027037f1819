/* Installed as server\jvm.dll: a library of the program's own machine that
 * imports halvern-absent.dll, which is nowhere the loader looks, as a Java
 * runtime copied without its C runtime would. */
__declspec(dllimport) int HalvernAbsent(void);

__declspec(dllexport) int JNI_GetDefaultJavaVMInitArgs(void* args) {
    (void)args;
    return HalvernAbsent();
}
