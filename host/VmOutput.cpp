#include "VmOutput.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

// Texts longer than this are formatted on the heap; without memory they are
// kept cut.
enum { kFormatBufferSize = 4096 };

static const char kStartOutputCut[] = "\n[cut: the VM printed more than 16 KiB before the kernel started]";
static const char kTailCut[] = "[cut: only the last 2 KiB are kept]\n";

// Writers reserve their bytes with one interlocked addition and copy into
// what they reserved, so that the VM's threads never wait on each other.
// The counters go on counting past the capacity: that is how a reader knows
// that text was left out.
struct VmOutputRecord {
    char start[kVmStartOutputCapacity];
    volatile LONG startUsed;
    char tail[kVmOutputTailCapacity];
    volatile LONG tailUsed;
    volatile LONG started;
    volatile LONG echo;
};

static VmOutputRecord VmOutput;

void EchoVmOutputOnConsole() { InterlockedExchange(&VmOutput.echo, 1); }

void EndVmStartOutput() { InterlockedExchange(&VmOutput.started, 1); }

// Reserves `count` bytes past `used` and returns where they begin; callers
// copy only what is left below the capacity. A counter near its limit stays
// there, so it never wraps.
static LONG Reserve(volatile LONG* used, size_t count) {
    const LONG kMostCounted = 0x40000000;
    LONG length = count < static_cast<size_t>(kMostCounted) ? static_cast<LONG>(count) : kMostCounted;
    LONG at = InterlockedExchangeAdd(used, length);
    if (at > kMostCounted) InterlockedExchange(used, kMostCounted);
    return at;
}

static void KeepForStart(const char* text, size_t length) {
    LONG at = Reserve(&VmOutput.startUsed, length);
    if (at >= kVmStartOutputCapacity) return;
    size_t room = static_cast<size_t>(kVmStartOutputCapacity - at);
    memcpy(VmOutput.start + at, text, length < room ? length : room);
}

static void KeepInTail(const char* text, size_t length) {
    LONG at = Reserve(&VmOutput.tailUsed, length);
    // Only the last bytes of a text longer than the ring can survive anyway.
    size_t skip = length > kVmOutputTailCapacity ? length - kVmOutputTailCapacity : 0;
    for (size_t i = skip; i < length; ++i)
        VmOutput.tail[(static_cast<size_t>(at) + i) % kVmOutputTailCapacity] = text[i];
}

static void Keep(const char* text, size_t length) {
    if (length == 0) return;
    if (VmOutput.echo != 0) {
        fwrite(text, 1, length, stderr);
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

// The VM's text is in the system's code page, like any other text a Windows
// program prints; it is converted whole, so that no character is split.
static char Gathered[kVmStartOutputCapacity + 1];

static void AppendGathered(Detail* detail, size_t length) {
    Gathered[length] = '\0';
    AppendAnsi(detail, Gathered);
}

bool VmPrintedBeforeStart() { return VmOutput.startUsed > 0; }

bool AppendVmStartOutput(Detail* detail) {
    LONG used = VmOutput.startUsed;
    if (used <= 0) return false;
    size_t kept = static_cast<size_t>(used < kVmStartOutputCapacity ? used : static_cast<LONG>(kVmStartOutputCapacity));
    memcpy(Gathered, VmOutput.start, kept);
    AppendGathered(detail, kept);
    if (used > kVmStartOutputCapacity) AppendText(detail, kStartOutputCut);
    return true;
}

bool AppendVmOutputTail(Detail* detail) {
    LONG used = VmOutput.tailUsed;
    if (used <= 0) return false;
    size_t total = static_cast<size_t>(used);
    if (total <= kVmOutputTailCapacity) {
        memcpy(Gathered, VmOutput.tail, total);
        AppendGathered(detail, total);
        return true;
    }
    // The ring has wrapped: its oldest byte is the one the next text overwrites.
    size_t oldest = total % kVmOutputTailCapacity;
    memcpy(Gathered, VmOutput.tail + oldest, kVmOutputTailCapacity - oldest);
    memcpy(Gathered + kVmOutputTailCapacity - oldest, VmOutput.tail, oldest);
    AppendText(detail, kTailCut);
    AppendGathered(detail, kVmOutputTailCapacity);
    return true;
}
