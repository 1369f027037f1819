#include "SystemText.h"

#include <windows.h>

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

// Message texts number their inserts from %1 to %99.
enum { kInsertCount = 99 };

// Stands for every insert but the first: an empty text whether it is read
// as a narrow or a wide string.
static const WCHAR kNothing[2] = {0, 0};

static DWORD TrimLineEnd(char* text, DWORD length) {
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' '))
        text[--length] = '\0';
    return length;
}

// For a text the system would not format with arguments (e.g. one whose
// filled form does not fit): the unfilled text with its inserts replaced
// here, %1 by insert, the others by nothing, cut to the capacity.
static DWORD FillInsertsHere(DWORD error, const char* insert, char* text, DWORD capacity) {
    char raw[1024];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, raw,
                                  sizeof raw, nullptr);
    if (length == 0) return 0;
    DWORD out = 0;
    for (DWORD at = 0; at < length && out + 1 < capacity;) {
        if (raw[at] != '%' || at + 1 >= length || raw[at + 1] < '1' || raw[at + 1] > '9') {
            text[out++] = raw[at++];
            continue;
        }
        bool first = raw[at + 1] == '1' && (at + 2 >= length || raw[at + 2] < '0' || raw[at + 2] > '9');
        at += 2;
        while (at < length && raw[at] >= '0' && raw[at] <= '9') ++at;
        if (at < length && raw[at] == '!') {
            const void* end = memchr(raw + at + 1, '!', length - at - 1);
            if (end != nullptr) at = static_cast<DWORD>(static_cast<const char*>(end) - raw) + 1;
        }
        for (const char* fill = first && insert != nullptr ? insert : ""; *fill != '\0' && out + 1 < capacity;)
            text[out++] = *fill++;
    }
    text[out] = '\0';
    return out;
}

unsigned long SystemText(unsigned long error, const char* insert, char* text, unsigned long capacity) {
    if (capacity == 0) return 0;
    text[0] = '\0';
    DWORD_PTR arguments[kInsertCount];
    arguments[0] = reinterpret_cast<DWORD_PTR>(insert != nullptr ? insert : reinterpret_cast<const char*>(kNothing));
    for (int i = 1; i < kInsertCount; ++i) arguments[i] = reinterpret_cast<DWORD_PTR>(kNothing);
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr, static_cast<DWORD>(error),
                       0, text, static_cast<DWORD>(capacity), reinterpret_cast<va_list*>(arguments));
    if (length == 0 || length >= capacity)
        length = FillInsertsHere(static_cast<DWORD>(error), insert, text, static_cast<DWORD>(capacity));
    return TrimLineEnd(text, length);
}

// The console behind the stream, or null when the stream leads elsewhere.
static HANDLE ConsoleOf(FILE* stream) {
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    bool console = handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR &&
                   GetConsoleMode(handle, &mode) != FALSE;
    return console ? handle : nullptr;
}

bool StreamIsConsole(FILE* stream) { return ConsoleOf(stream) != nullptr; }

// The text in the console's code page, in a heap block; null when it
// cannot be converted.
static char* ForConsole(const char* ansi, unsigned int codePage) {
    int units = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    if (units <= 0) return nullptr;
    WCHAR* wide = static_cast<WCHAR*>(malloc(static_cast<size_t>(units) * sizeof(WCHAR)));
    if (wide == nullptr) return nullptr;
    char* converted = nullptr;
    // UTF-8 takes no replacement character; it holds every character anyway.
    const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
    if (MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, units) == units) {
        int bytes = WideCharToMultiByte(codePage, 0, wide, units, nullptr, 0, fallback, nullptr);
        converted = bytes > 0 ? static_cast<char*>(malloc(static_cast<size_t>(bytes))) : nullptr;
        if (converted != nullptr &&
            WideCharToMultiByte(codePage, 0, wide, units, converted, bytes, fallback, nullptr) != bytes) {
            free(converted);
            converted = nullptr;
        }
    }
    free(wide);
    return converted;
}

// On a console the converted bytes go to it directly: a C runtime may
// translate what passes through its streams once more on its own.
void PrintAnsi(FILE* stream, const char* text) {
    if (text == nullptr || text[0] == '\0') return;
    HANDLE console = ConsoleOf(stream);
    if (console == nullptr) {
        fputs(text, stream);
        return;
    }
    char* converted = ForConsole(text, GetConsoleOutputCP());
    const char* shown = converted != nullptr ? converted : text;  // still better shown as it is
    fflush(stream);                                               // what the stream holds comes first
    DWORD written = 0;
    if (!WriteFile(console, shown, static_cast<DWORD>(strlen(shown)), &written, nullptr)) fputs(shown, stream);
    free(converted);
}
