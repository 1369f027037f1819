/* Linked into a copy of the stand-in VM: makes it import the API set
 * api-ms-win-crt-runtime-l1-1-0.dll, as every Java runtime built with Visual
 * C++ 2015 or later does. */
__declspec(dllimport) int __cdecl _query_app_type(void);

int(__cdecl* const halvernUcrtImport)(void) = _query_app_type;
