#include "Detail.h"

#include <windows.h>

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char kCutMarker[] = "\n[cut: the rest does not fit in one event]";
static const char kUnreadable[] = "(text that could not be read)";

// Kept aside for a report that finds no memory: whichever report claims it
// first uses it until it gives it back.
static Detail Spare;
static volatile LONG SpareClaimed;

Detail* NewDetail() {
    Detail* detail = static_cast<Detail*>(malloc(sizeof(Detail)));
    if (detail == nullptr && InterlockedCompareExchange(&SpareClaimed, 1, 0) == 0) detail = &Spare;
    if (detail != nullptr) ClearDetail(detail);
    return detail;
}

void FreeDetail(Detail* detail) {
    if (detail == &Spare) {
        InterlockedExchange(&SpareClaimed, 0);
    } else {
        free(detail);
    }
}

void ClearDetail(Detail* detail) {
    detail->text[0] = '\0';
    detail->length = 0;
    detail->cut = false;
}

// Bytes before `limit` that end on a character boundary of `utf8`.
static size_t WholeCharacters(const char* utf8, size_t limit) {
    while (limit > 0 && (static_cast<unsigned char>(utf8[limit]) & 0xC0) == 0x80) --limit;
    return limit;
}

static void AppendBytes(Detail* detail, const char* bytes, size_t count) {
    if (detail->cut) return;
    size_t room = kDetailCapacity - (sizeof kCutMarker - 1) - detail->length;
    if (count > room) {
        count = WholeCharacters(bytes, room);
        memcpy(detail->text + detail->length, bytes, count);
        memcpy(detail->text + detail->length + count, kCutMarker, sizeof kCutMarker);
        detail->length += count + sizeof kCutMarker - 1;
        detail->cut = true;
        return;
    }
    memcpy(detail->text + detail->length, bytes, count);
    detail->length += count;
    detail->text[detail->length] = '\0';
}

void AppendText(Detail* detail, const char* utf8) {
    if (utf8 != nullptr) AppendBytes(detail, utf8, strlen(utf8));
}

void AppendNumber(Detail* detail, long number) {
    char digits[24];
    snprintf(digits, sizeof digits, "%ld", number);
    AppendText(detail, digits);
}

static size_t EncodeUtf8(uint32_t codePoint, char* out) {
    if (codePoint < 0x80) {
        out[0] = static_cast<char>(codePoint);
        return 1;
    }
    if (codePoint < 0x800) {
        out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
        out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 2;
    }
    if (codePoint < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
        out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 4;
}

void AppendUtf16(Detail* detail, const uint16_t* units, size_t count) {
    const uint32_t kReplacement = 0xFFFD;
    for (size_t i = 0; i < count && !detail->cut; ++i) {
        uint32_t codePoint = units[i];
        if (codePoint >= 0xD800 && codePoint <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (codePoint >= 0xD800 && codePoint <= 0xDFFF) {
            codePoint = kReplacement;
        } else if (codePoint == 0) {
            // The detail is read as a C string: a NUL would end it there.
            AppendBytes(detail, "\\0", 2);
            continue;
        }
        char encoded[4];
        AppendBytes(detail, encoded, EncodeUtf8(codePoint, encoded));
    }
}

void AppendShortened(Detail* detail, const char* utf8, size_t keep) {
    size_t length = strlen(utf8);
    if (length <= 2 * keep + 64) {
        AppendBytes(detail, utf8, length);
        return;
    }
    size_t head = WholeCharacters(utf8, keep);
    size_t tail = length - keep;
    while (tail < length && (static_cast<unsigned char>(utf8[tail]) & 0xC0) == 0x80) ++tail;
    AppendBytes(detail, utf8, head);
    AppendText(detail, " ... [");
    AppendNumber(detail, static_cast<long>(tail - head));
    AppendText(detail, " bytes left out] ... ");
    AppendBytes(detail, utf8 + tail, length - tail);
}

// `count` bytes of ANSI text as NUL-terminated UTF-8, in a heap block the
// caller frees; null without memory, or when the code page cannot read it.
static char* Utf8OfAnsi(const char* text, size_t count) {
    int length = count < static_cast<size_t>(INT_MAX) ? static_cast<int>(count) : INT_MAX;
    int units = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    WCHAR* wide = units > 0 ? static_cast<WCHAR*>(malloc(static_cast<size_t>(units) * sizeof(WCHAR))) : nullptr;
    char* utf8 = nullptr;
    if (wide != nullptr && MultiByteToWideChar(CP_ACP, 0, text, length, wide, units) == units) {
        int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, units, nullptr, 0, nullptr, nullptr);
        utf8 = bytes > 0 ? static_cast<char*>(malloc(static_cast<size_t>(bytes) + 1)) : nullptr;
        if (utf8 != nullptr && WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8, bytes, nullptr, nullptr) == bytes) {
            utf8[bytes] = '\0';
        } else {
            free(utf8);
            utf8 = nullptr;
        }
    }
    free(wide);
    return utf8;
}

void AppendAnsiBytes(Detail* detail, const char* text, size_t count) {
    if (text == nullptr || count == 0) return;
    char* utf8 = Utf8OfAnsi(text, count);
    AppendText(detail, utf8 != nullptr ? utf8 : kUnreadable);
    free(utf8);
}

void AppendAnsi(Detail* detail, const char* text) {
    if (text != nullptr) AppendAnsiBytes(detail, text, strlen(text));
}

void AppendAnsiShortened(Detail* detail, const char* ansi, size_t keep) {
    if (ansi == nullptr || ansi[0] == '\0') return;
    char* utf8 = Utf8OfAnsi(ansi, strlen(ansi));
    if (utf8 != nullptr) {
        AppendShortened(detail, utf8, keep);
    } else {
        AppendText(detail, kUnreadable);
    }
    free(utf8);
}
