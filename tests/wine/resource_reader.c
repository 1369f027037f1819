/* Reads a program's resources back the way Explorer, inventory scanners,
 * application control and Event Viewer do, for the Wine driver to compare
 * with the program table:
 *
 *   resource_reader <program>
 *
 * prints one "key=value" line for each fixed version field, the translation,
 * each version string (looked up in the translation the resource names;
 * a missing string prints no line), each application manifest
 * ("RT_MANIFEST.<id>=" and its bytes in hexadecimal), and the message table
 * as Event Viewer renders it: "MESSAGE.1=" the category's name, then
 * "MESSAGE.<id>=" for each event from 2 to 9 that the table has, each
 * formatted with the strings SAMPLE_MESSAGE and SAMPLE_DETAIL below (line
 * breaks shown as \r and \n).
 *
 *   resource_reader --controls <service>
 *
 * prints "State=" and "ControlsAccepted=" of the service, as the service
 * manager has them. Exit code 0, or 2 when a call fails, with a line on
 * standard error naming it. */
#include <windows.h>

#include <stdio.h>

static const char* const kStrings[] = {
    "CompanyName",    "FileDescription",  "FileVersion", "InternalName",
    "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion",
};

static int Failed(const char* call) {
    fprintf(stderr, "resource_reader: %s failed, error %lu\n", call, GetLastError());
    return 2;
}

static void PrintVersion(const char* key, DWORD high, DWORD low) {
    printf("%s=%u.%u.%u.%u\n", key, HIWORD(high), LOWORD(high), HIWORD(low), LOWORD(low));
}

static int PrintVersionResource(const char* path) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) return Failed("GetFileVersionInfoSizeA");
    void* data = HeapAlloc(GetProcessHeap(), 0, size);
    if (data == NULL) return Failed("HeapAlloc");
    if (!GetFileVersionInfoA(path, 0, size, data)) return Failed("GetFileVersionInfoA");

    void* value = NULL;
    UINT length = 0;
    if (!VerQueryValueA(data, "\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
        return Failed("VerQueryValueA(\\)");
    }
    const VS_FIXEDFILEINFO* fixed = value;
    printf("Signature=0x%08lx\n", fixed->dwSignature);
    PrintVersion("FILEVERSION", fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    PrintVersion("PRODUCTVERSION", fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    printf("FILEFLAGS=0x%lx\n", fixed->dwFileFlags & fixed->dwFileFlagsMask);
    printf("FILEOS=0x%lx\n", fixed->dwFileOS);
    printf("FILETYPE=0x%lx\n", fixed->dwFileType);

    if (!VerQueryValueA(data, "\\VarFileInfo\\Translation", &value, &length) || length < 2 * sizeof(WORD)) {
        return Failed("VerQueryValueA(\\VarFileInfo\\Translation)");
    }
    const WORD* translation = value;
    printf("Translation=%04x%04x\n", translation[0], translation[1]);
    for (size_t i = 0; i < sizeof kStrings / sizeof kStrings[0]; ++i) {
        char query[96];
        snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], kStrings[i]);
        if (VerQueryValueA(data, query, &value, &length) && length > 0) printf("%s=%s\n", kStrings[i], (char*)value);
    }
    HeapFree(GetProcessHeap(), 0, data);
    return 0;
}

static BOOL CALLBACK PrintManifest(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR failed) {
    HRSRC found = FindResourceA(module, name, type);
    HGLOBAL loaded = found == NULL ? NULL : LoadResource(module, found);
    const unsigned char* bytes = loaded == NULL ? NULL : LockResource(loaded);
    if (bytes == NULL || !IS_INTRESOURCE(name)) {
        *(int*)failed = Failed(bytes == NULL ? "FindResourceA/LoadResource(RT_MANIFEST)" : "a named manifest");
        return FALSE;
    }
    printf("RT_MANIFEST.%u=", (unsigned)(ULONG_PTR)name);
    DWORD size = SizeofResource(module, found);
    for (DWORD i = 0; i < size; ++i) printf("%02x", bytes[i]);
    printf("\n");
    return TRUE;
}

static int PrintManifests(const char* path) {
    HMODULE module = LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (module == NULL) return Failed("LoadLibraryExA");
    int failed = 0;
    if (!EnumResourceNamesA(module, RT_MANIFEST, PrintManifest, (LONG_PTR)&failed) && failed == 0 &&
        GetLastError() != ERROR_RESOURCE_TYPE_NOT_FOUND) {
        failed = Failed("EnumResourceNamesA(RT_MANIFEST)");
    }
    FreeLibrary(module);
    return failed;
}

#define SAMPLE_MESSAGE "Failed to load JVM DLL."
#define SAMPLE_DETAIL "Tried C:\\Halvern\\bin\\\\server\\jvm.dll, 100% of %s"

static void PrintEscaped(const char* key, const char* text) {
    printf("%s=", key);
    for (; *text != '\0'; ++text) {
        if (*text == '\r') {
            printf("\\r");
        } else if (*text == '\n') {
            printf("\\n");
        } else {
            putchar(*text);
        }
    }
    printf("\n");
}

static int PrintMessages(const char* path) {
    HMODULE module = LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (module == NULL) return Failed("LoadLibraryExA");
    char text[1024];
    int failed = 0;
    if (FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, module, 1, 0, text, sizeof text,
                       NULL) == 0) {
        failed = Failed("FormatMessageA(1)");
    } else {
        PrintEscaped("MESSAGE.1", text);
    }
    DWORD_PTR strings[2] = {(DWORD_PTR)SAMPLE_MESSAGE, (DWORD_PTR)SAMPLE_DETAIL};
    for (DWORD id = 2; id <= 9; ++id) {
        char key[16];
        snprintf(key, sizeof key, "MESSAGE.%lu", (unsigned long)id);
        if (FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, id, 0, text,
                           sizeof text, (va_list*)strings) == 0) {
            /* An id the table lacks is left out. */
            if (GetLastError() != ERROR_MR_MID_NOT_FOUND) failed = Failed(key);
        } else {
            PrintEscaped(key, text);
        }
    }
    FreeLibrary(module);
    return failed;
}

static int PrintControls(const char* service) {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL) return Failed("OpenSCManagerA");
    SC_HANDLE handle = OpenServiceA(manager, service, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status;
    int failed = 0;
    if (handle == NULL) {
        failed = Failed("OpenServiceA");
    } else if (!QueryServiceStatus(handle, &status)) {
        failed = Failed("QueryServiceStatus");
    } else {
        printf("State=%lu\nControlsAccepted=0x%lx\n", status.dwCurrentState, status.dwControlsAccepted);
    }
    if (handle != NULL) CloseServiceHandle(handle);
    CloseServiceHandle(manager);
    return failed;
}

int main(int argc, char** argv) {
    int failed;
    if (argc == 3 && lstrcmpA(argv[1], "--controls") == 0) {
        failed = PrintControls(argv[2]);
    } else if (argc == 2) {
        failed = PrintVersionResource(argv[1]);
        if (failed == 0) failed = PrintManifests(argv[1]);
        if (failed == 0) failed = PrintMessages(argv[1]);
    } else {
        fprintf(stderr, "usage: resource_reader <program> | resource_reader --controls <service>\n");
        return 2;
    }
    fflush(stdout);
    return failed;
}
