#ifndef REPORT_DETAIL_H
#define REPORT_DETAIL_H

#include <stddef.h>
#include <stdint.h>

// What an administrator needs to act on a failure, beside its fixed message:
// UTF-8 text in a buffer of its own, so that building it needs no memory.
// Text past the capacity is cut, visibly, and never splits a character.
// Data appended here is only ever copied, never read as a format. Each
// report builds its own: reports may be made on several threads at once.
enum { kDetailCapacity = 31000 };  // bytes; one event string holds 31,839 UTF-16 characters

struct Detail {
    char text[kDetailCapacity + 1];
    size_t length;
    bool cut;
};

// An empty detail for one report, from the heap or, without memory, the one
// kept aside when no other report holds it; null when neither is there.
// FreeDetail gives it back.
Detail* NewDetail();
void FreeDetail(Detail* detail);

void ClearDetail(Detail* detail);
void AppendText(Detail* detail, const char* utf8);
void AppendNumber(Detail* detail, long number);
// `count` UTF-16 code units, as the VM hands out a string; a lone surrogate
// becomes U+FFFD, and a U+0000 the two characters \0.
void AppendUtf16(Detail* detail, const uint16_t* units, size_t count);
// Text in the ANSI code page, as Windows hands out paths, options and
// messages: NUL-terminated, or `count` bytes.
void AppendAnsi(Detail* detail, const char* text);
void AppendAnsiBytes(Detail* detail, const char* text, size_t count);
// A long text keeps its first and last `keep` bytes (of UTF-8) and says how
// many it left out between them; the second takes ANSI text, e.g. an option.
void AppendShortened(Detail* detail, const char* utf8, size_t keep);
void AppendAnsiShortened(Detail* detail, const char* ansi, size_t keep);

#endif
