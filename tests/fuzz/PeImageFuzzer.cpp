// Fuzz target for the PE reader: any bytes as a library file. Besides the
// sanitizers' checks it holds the reader to what it can only ever say: the
// machine the headers plainly give, names that the file itself holds, the
// same answer twice, and nothing at all from a file that is no PE image.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "PeImage.h"

namespace {

uint32_t LittleEndian(const uint8_t* bytes, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

// Whether the DOS and PE headers make the file a PE image, and its machine
// as they plainly give it (which may be 0, "unknown", in an image too).
bool IsPeImage(const uint8_t* data, size_t size, WORD* machine) {
    *machine = 0;
    if (size < 64 || data[0] != 'M' || data[1] != 'Z') return false;
    uint64_t pe = LittleEndian(data + 0x3c, 4);
    if (pe + 6 > size || memcmp(data + pe, "PE\0\0", 4) != 0) return false;
    *machine = static_cast<WORD>(LittleEndian(data + pe + 4, 2));
    return true;
}

// Whether the file holds the name with its NUL: every name is read from it.
bool Holds(const uint8_t* data, size_t size, const std::string& name) {
    return memmem(data, size, name.c_str(), name.size() + 1) != nullptr;
}

struct Walk {
    std::vector<std::string> names;
    size_t stopAfter = SIZE_MAX;
};

bool Visit(const char* name, void* context) {
    auto* walk = static_cast<Walk*>(context);
    walk->names.push_back(name);
    return walk->names.size() < walk->stopAfter;
}

void Fail(const char* what) {
    fprintf(stderr, "PE reader: %s\n", what);
    abort();
}

// One scratch file per process, in memory where the system has a place for
// it. A plain array: the exit handler that removes the file may run after
// the statics with destructors are gone.
const char* ScratchPath() {
    static char path[64];
    if (path[0] == '\0')
        snprintf(path, sizeof path, "%s/halvern-pe-fuzz-%ld.dll", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp",
                 static_cast<long>(getpid()));
    return path;
}

void RemoveScratch() { unlink(ScratchPath()); }

void WriteScratch(const uint8_t* data, size_t size) {
    static bool registered = atexit(RemoveScratch) == 0;
    (void)registered;
    FILE* file = fopen(ScratchPath(), "wb");
    if (file == nullptr || fwrite(data, 1, size, file) != size || fclose(file) != 0)
        Fail("cannot write the scratch file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WriteScratch(data, size);
    const char* path = ScratchPath();

    WORD machine = 0;
    bool image = IsPeImage(data, size, &machine);
    if (PeImageMachine(path) != machine) Fail("the machine is not the one the headers give");

    Walk whole;
    bool read = ForEachPeImport(path, Visit, &whole);
    if (!image && (read || !whole.names.empty())) Fail("imports from no PE image");
    for (const std::string& name : whole.names) {
        if (name.empty() || name.size() > 255) Fail("an import name empty or longer than 255 bytes");
        if (!Holds(data, size, name)) Fail("an import name the file does not hold");
    }
    Walk again;
    if (ForEachPeImport(path, Visit, &again) != read || again.names != whole.names) Fail("a second walk differs");
    if (!whole.names.empty()) {
        Walk first;
        first.stopAfter = 1;
        ForEachPeImport(path, Visit, &first);
        if (first.names.size() != 1 || first.names[0] != whole.names[0]) Fail("a walk stopped at once went on");
    }

    if (PeImageExports(path, "")) Fail("an export without a name");
    for (const char* name : {"JNI_CreateJavaVM", "JNI_GetDefaultJavaVMInitArgs"}) {
        if (!PeImageExports(path, name)) continue;
        if (!image) Fail("exports from no PE image");
        if (!Holds(data, size, name)) Fail("an export name the file does not hold");
    }
    return 0;
}
