// Text conversion and system messages on POSIX. Every code page, the
// console's included, is UTF-8 here; malformed input becomes U+FFFD (or,
// with MB_ERR_INVALID_CHARS, fails as on Windows).
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

namespace {

// Decodes one UTF-8 sequence at text[*at]; false if it is malformed.
bool DecodeUtf8(const unsigned char* text, int length, int* at, unsigned long* codePoint) {
    unsigned char lead = text[*at];
    int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
    if (extra < 0 || *at + extra >= length + (extra == 0 ? 1 : 0)) {
        ++*at;
        return false;
    }
    unsigned long value = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
        unsigned char next = text[*at + i];
        if ((next & 0xC0) != 0x80) {
            *at += i;
            return false;
        }
        value = (value << 6) | (next & 0x3F);
    }
    *at += extra + 1;
    static const unsigned long kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    *codePoint = value;
    return true;
}

void EncodeUtf8(unsigned long codePoint, std::string* out) {
    if (codePoint < 0x80) {
        *out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        *out += static_cast<char>(0xC0 | (codePoint >> 6));
        *out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        *out += static_cast<char>(0xE0 | (codePoint >> 12));
        *out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (codePoint >> 18));
        *out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// Windows' contract for both directions: a capacity of 0 asks for the
// length needed; a result that does not fit fails with
// ERROR_INSUFFICIENT_BUFFER; a length of -1 includes the NUL.
template <typename Unit>
int Deliver(const std::basic_string<Unit>& converted, Unit* out, int capacity) {
    int needed = static_cast<int>(converted.size());
    if (capacity == 0) return needed;
    if (out == nullptr || needed > capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(out, converted.data(), converted.size() * sizeof(Unit));
    return needed;
}

}  // namespace

extern "C" int WINAPI MultiByteToWideChar(unsigned int, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                          LPWSTR lpWideCharStr, int cchWideChar) {
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int length = cbMultiByte == -1 ? static_cast<int>(strlen(lpMultiByteStr)) + 1 : cbMultiByte;
    const auto* text = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    std::u16string converted;
    for (int at = 0; at < length;) {
        unsigned long codePoint = 0xFFFD;
        if (!DecodeUtf8(text, length, &at, &codePoint) && (dwFlags & MB_ERR_INVALID_CHARS) != 0) {
            SetLastError(1113);  // ERROR_NO_UNICODE_TRANSLATION
            return 0;
        }
        if (codePoint >= 0x10000) {
            converted += static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10));
            converted += static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        } else {
            converted += static_cast<char16_t>(codePoint);
        }
    }
    return Deliver(converted, lpWideCharStr, cchWideChar);
}

extern "C" int WINAPI WideCharToMultiByte(unsigned int, DWORD, LPCWSTR lpWideCharStr, int cchWideChar,
                                          LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR, BOOL* lpUsedDefaultChar) {
    if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int length = cchWideChar;
    if (length == -1) {
        length = 0;
        while (lpWideCharStr[length] != 0) ++length;
        ++length;
    }
    std::string converted;
    for (int i = 0; i < length; ++i) {
        unsigned long unit = lpWideCharStr[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && lpWideCharStr[i + 1] >= 0xDC00 &&
            lpWideCharStr[i + 1] <= 0xDFFF) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (lpWideCharStr[i + 1] - 0xDC00);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            unit = 0xFFFD;
        }
        EncodeUtf8(unit, &converted);
    }
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = FALSE;
    return Deliver(converted, lpMultiByteStr, cbMultiByte);
}

extern "C" unsigned int WINAPI GetConsoleOutputCP(void) { return CP_UTF8; }

extern "C" unsigned int WINAPI GetACP(void) { return CP_UTF8; }

namespace {

// A message's inserts filled as Windows does with FORMAT_MESSAGE_ARGUMENT_ARRAY:
// %1 to %99, each optionally with a printf format between '!'s (only the
// default !s! is known here: a string), %% is a percent sign, %n a line
// break. Without arguments the text stays as it is.
bool FillInserts(const char* text, const DWORD_PTR* arguments, std::string* filled) {
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at != '%' || arguments == nullptr) {
            *filled += *at;
            continue;
        }
        ++at;
        if (*at >= '1' && *at <= '9') {
            int number = *at - '0';
            if (at[1] >= '0' && at[1] <= '9') number = number * 10 + (*++at - '0');
            if (at[1] == '!') {
                const char* end = strchr(at + 2, '!');
                if (end == nullptr || std::string(at + 2, end) != "s") return false;
                at = end;
            }
            const char* argument = reinterpret_cast<const char*>(arguments[number - 1]);
            *filled += argument != nullptr ? argument : "(null)";
        } else if (*at == 'n') {
            *filled += "\r\n";
        } else if (*at == '\0') {
            break;
        } else {
            *filled += *at;  // %%, %. and the like stand for the character itself
        }
    }
    return true;
}

}  // namespace

// The texts Windows gives for the errors the programs can meet.
extern "C" DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer, DWORD nSize,
                                       void* Arguments) {
    struct Known {
        DWORD code;
        const char* text;
    };
    static const Known kKnown[] = {
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
        {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
        {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
        {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command.\r\n"},
        {ERROR_MOD_NOT_FOUND, "The specified module could not be found.\r\n"},
        {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found.\r\n"},
        {ERROR_BAD_EXE_FORMAT, "%1 is not a valid Win32 application.\r\n"},
        {ERROR_SERVICE_DOES_NOT_EXIST, "The specified service does not exist as an installed service.\r\n"},
        {ERROR_SERVICE_MARKED_FOR_DELETE, "The specified service has been marked for deletion.\r\n"},
        {ERROR_SERVICE_EXISTS, "The specified service already exists.\r\n"},
        {ERROR_NO_UNICODE_TRANSLATION,
         "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
        {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT,
         "The service process could not connect to the service controller.\r\n"},
    };
    if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Inserts without FORMAT_MESSAGE_ARGUMENT_ARRAY would be read from a
    // va_list, which nothing here passes.
    bool fill = (dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0;
    if (fill && (dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    for (const Known& known : kKnown) {
        if (known.code != dwMessageId) continue;
        std::string text;
        if (!fill) {
            text = known.text;
        } else if (!FillInserts(known.text, static_cast<const DWORD_PTR*>(Arguments), &text)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if (text.size() + 1 > nSize) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        memcpy(lpBuffer, text.c_str(), text.size() + 1);
        return static_cast<DWORD>(text.size());
    }
    SetLastError(317);  // ERROR_MR_MID_NOT_FOUND
    return 0;
}
