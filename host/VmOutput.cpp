#include "VmOutput.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "SystemText.h"

// Texts longer than this are formatted on the heap; without memory they are
// kept cut.
enum { kFormatBufferSize = 4096 };

static const char kStartOutputCut[] = "\n[cut: the VM printed more than 16 KiB before the kernel started]";
static const char kTailCut[] = "[cut: only the last 2 KiB are kept]\n";
static const char kNoMemory[] = "(no memory to show what the VM printed)";

// Writers never wait for each other: each reserves its bytes with one
// interlocked step and copies into what it reserved, while a reader may be
// reading. The VM's text has its NULs taken out first, so no byte kept is 0.
//
// The start: a writer moves startUsed on by compare-and-swap, never past the
// capacity; a byte still 0 has been reserved but not yet copied.
//
// The tail: a ring. tailReserved counts every byte ever reserved, modulo
// 2^32 (a multiple of the ring's size), and never stops. Each slot is one
// word, written at once, that holds the byte and the lap of the ring it was
// written in; a reader takes only the slots written in the lap it reads, so
// a slot reserved but not yet copied, or one left from an older lap, is
// skipped.
struct VmOutputRecord {
    char start[kVmStartOutputCapacity];
    volatile LONG startUsed;
    volatile LONG startCut;
    volatile LONG tail[kVmOutputTailCapacity];
    volatile LONG tailReserved;
    volatile LONG tailLapped;  // more was printed than the ring holds
    volatile LONG started;
    volatile LONG echo;
};

static VmOutputRecord VmOutput;

void EchoVmOutputOnConsole() { InterlockedExchange(&VmOutput.echo, 1); }

void EndVmStartOutput() { InterlockedExchange(&VmOutput.started, 1); }

void RestartVmOutput(unsigned long tailPrinted) {
    memset(VmOutput.start, 0, sizeof VmOutput.start);
    VmOutput.startUsed = 0;
    VmOutput.startCut = 0;
    for (volatile LONG& slot : VmOutput.tail) slot = 0;
    VmOutput.tailReserved = static_cast<LONG>(static_cast<DWORD>(tailPrinted));
    VmOutput.tailLapped = tailPrinted > kVmOutputTailCapacity ? 1 : 0;
    VmOutput.started = 0;
}

static void KeepForStart(const char* text, size_t length) {
    LONG at;
    LONG end;
    do {
        at = VmOutput.startUsed;
        size_t room = static_cast<size_t>(kVmStartOutputCapacity - at);
        end = at + static_cast<LONG>(length < room ? length : room);
    } while (InterlockedCompareExchange(&VmOutput.startUsed, end, at) != at);
    if (static_cast<size_t>(end - at) < length) InterlockedExchange(&VmOutput.startCut, 1);
    memcpy(VmOutput.start + at, text, static_cast<size_t>(end - at));
}

// The word a tail slot holds for the byte at `position`: its lap counted
// from 1, so that a slot never written matches no position.
static LONG SlotWord(DWORD position, char byte) {
    return static_cast<LONG>(((position / kVmOutputTailCapacity + 1) << 8) | static_cast<unsigned char>(byte));
}

unsigned long ReserveVmOutputTail(size_t length) {
    DWORD at = static_cast<DWORD>(InterlockedExchangeAdd(&VmOutput.tailReserved, static_cast<LONG>(length)));
    if (VmOutput.tailLapped == 0 && at > kVmOutputTailCapacity - length) InterlockedExchange(&VmOutput.tailLapped, 1);
    return at;
}

void CopyIntoVmOutputTail(unsigned long at, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        DWORD position = static_cast<DWORD>(at) + static_cast<DWORD>(i);
        VmOutput.tail[position % kVmOutputTailCapacity] = SlotWord(position, text[i]);
    }
}

// Only the last bytes of a text longer than the ring can survive anyway.
static void KeepInTail(const char* text, size_t length) {
    const size_t kRing = kVmOutputTailCapacity;
    size_t kept = length < kRing ? length : kRing;
    if (kept < length) InterlockedExchange(&VmOutput.tailLapped, 1);
    CopyIntoVmOutputTail(ReserveVmOutputTail(kept), text + (length - kept), kept);
}

// Takes the NULs out of the text and ends it with one; returns its new length.
static size_t WithoutNuls(char* text, size_t length) {
    size_t kept = 0;
    for (size_t i = 0; i < length; ++i)
        if (text[i] != '\0') text[kept++] = text[i];
    text[kept] = '\0';
    return kept;
}

// `text` has room for its NUL after `length` bytes.
static void Keep(char* text, size_t length) {
    length = WithoutNuls(text, length);
    if (length == 0) return;
    if (VmOutput.echo != 0) {
        PrintAnsi(stderr, text);
        fflush(stderr);
    }
    if (VmOutput.started == 0) {
        KeepForStart(text, length);
    } else {
        KeepInTail(text, length);
    }
}

jint JNICALL VmPrintHook(FILE*, const char* format, va_list arguments) {
    if (format == nullptr) return 0;
    va_list again;
    va_copy(again, arguments);
    char text[kFormatBufferSize];
    int length = vsnprintf(text, sizeof text, format, arguments);
    if (length < 0) {
        va_end(again);
        return 0;
    }
    char* longText = nullptr;
    if (static_cast<size_t>(length) >= sizeof text) {
        longText = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
        if (longText != nullptr) vsnprintf(longText, static_cast<size_t>(length) + 1, format, again);
    }
    va_end(again);
    if (longText != nullptr) {
        Keep(longText, static_cast<size_t>(length));
        free(longText);
    } else {
        Keep(text, static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length) : sizeof text - 1);
    }
    return length;
}

bool VmPrintedBeforeStart() { return VmOutput.startUsed > 0; }

// The VM's text is in the system's code page, like any other text a Windows
// program prints; it is gathered and converted whole, so that no character
// is split.
bool AppendVmStartOutput(Detail* detail) {
    LONG used = VmOutput.startUsed;
    if (used <= 0) return false;
    char* gathered = static_cast<char*>(malloc(static_cast<size_t>(used)));
    if (gathered == nullptr) {
        AppendText(detail, kNoMemory);
        return true;
    }
    size_t length = 0;
    for (LONG i = 0; i < used; ++i)
        if (VmOutput.start[i] != '\0') gathered[length++] = VmOutput.start[i];
    AppendAnsiBytes(detail, gathered, length);
    free(gathered);
    if (VmOutput.startCut != 0) AppendText(detail, kStartOutputCut);
    return true;
}

// The ring's slots from the oldest position to the newest reserved, each
// taken if it was written in that position's lap.
bool AppendVmOutputTail(Detail* detail) {
    DWORD end = static_cast<DWORD>(VmOutput.tailReserved);
    if (end == 0 && VmOutput.tailLapped == 0) return false;
    char* gathered = static_cast<char*>(malloc(kVmOutputTailCapacity));
    if (gathered == nullptr) {
        AppendText(detail, kNoMemory);
        return true;
    }
    size_t length = 0;
    for (DWORD i = 0; i < kVmOutputTailCapacity; ++i) {
        DWORD position = end - kVmOutputTailCapacity + i;
        LONG word = VmOutput.tail[position % kVmOutputTailCapacity];
        char byte = static_cast<char>(word & 0xFF);
        if (word == SlotWord(position, byte)) gathered[length++] = byte;
    }
    if (length > 0 && VmOutput.tailLapped != 0) AppendText(detail, kTailCut);
    AppendAnsiBytes(detail, gathered, length);
    free(gathered);
    return length > 0;
}
