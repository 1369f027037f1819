/* Planted as C:\Program.exe: a program that a service manager would start
 * when it splits an unquoted service path with blanks at the first blank.
 * It only records that it ran, and with which command line, beside itself. */
#include <windows.h>

int main(void) {
    char path[MAX_PATH + 32];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    char* cut = path + length;
    while (cut > path && cut[-1] != '\\') --cut;
    lstrcpyA(cut, "planted-ran.txt");
    HANDLE record =
        CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (record == INVALID_HANDLE_VALUE) return 3;
    const char* commandLine = GetCommandLineA();
    DWORD written = 0;
    WriteFile(record, commandLine, (DWORD)lstrlenA(commandLine), &written, NULL);
    WriteFile(record, "\r\n", 2, &written, NULL);
    CloseHandle(record);
    return 0;
}
