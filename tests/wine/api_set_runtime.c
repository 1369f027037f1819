/* Stands for api-ms-win-crt-runtime-l1-1-0.dll, an API set of the Universal
 * C Runtime, only for its import library: the name is no file on current
 * Windows (nor in Wine), where the loader maps it to ucrtbase.dll. Never
 * copied anywhere. */
__declspec(dllexport) int __cdecl _query_app_type(void) { return 0; }
