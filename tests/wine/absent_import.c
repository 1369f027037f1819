/* Linked into a copy of the stand-in VM: makes it import halvern-absent.dll,
 * which the Wine driver puts only where this console looks and the service
 * does not (a folder on WINEPATH, the console's current folder). */
__declspec(dllimport) int HalvernAbsent(void);

int (*const halvernAbsentImport)(void) = HalvernAbsent;
