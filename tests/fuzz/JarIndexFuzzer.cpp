// Fuzz target for the jar reader: any bytes as a jar's content. Besides the
// sanitizers' checks, an entry it finds must be there: its name's bytes
// occur in the input.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "JarIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char kName[] = "a/B.class";
    JarAnswer answer = FindZipEntry(data, size, kName);
    if (answer == JarHoldsEntry &&
        std::string(reinterpret_cast<const char*>(data), size).find(kName) == std::string::npos)
        abort();
    return 0;
}
