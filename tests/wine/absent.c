/* A library that no installation holds: the one that missing_import.c
 * imports. Built only for its import library; never copied anywhere. */
__declspec(dllexport) int HalvernAbsent(void) { return 0; }
