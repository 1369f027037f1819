/* A library that no installation holds: the one that missing_import.c and
 * absent_import.c import. Copied only where the service's loader does not
 * look. */
__declspec(dllexport) int HalvernAbsent(void) { return 0; }
