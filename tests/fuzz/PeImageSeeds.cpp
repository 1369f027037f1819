// Writes the PE fuzz target's seeds into the folder named on the command
// line: the images the reader's tests build, of either bitness and at the
// edges that linkers make.
#include <stdio.h>

#include <string>

#include "SyntheticImage.h"

namespace {

SyntheticImage Image(uint16_t machine, bool pe32Plus) {
    SyntheticImage image;
    image.machine = machine;
    image.pe32Plus = pe32Plus;
    image.imports = {"KERNEL32.dll", "VCRUNTIME140.dll", "api-ms-win-crt-runtime-l1-1-0.dll"};
    image.exports = {"JNI_CreateJavaVM", "JNI_GetCreatedJavaVMs", "JNI_GetDefaultJavaVMInitArgs"};
    return image;
}

bool Write(const std::string& folder, const char* name, const SyntheticImage& image) {
    std::string bytes = BuildPeImage(image);
    FILE* file = fopen((folder + "/" + name).c_str(), "wb");
    bool written = file != nullptr && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file != nullptr && fclose(file) != 0) written = false;
    if (!written) fprintf(stderr, "cannot write %s/%s\n", folder.c_str(), name);
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    SyntheticImage mingw32 = Image(0x014c, false);
    mingw32.sectionPerTable = true;
    SyntheticImage mingw64 = Image(0x8664, true);
    mingw64.sectionPerTable = true;
    SyntheticImage nameZeroEnd = Image(0x8664, true);
    nameZeroEnd.importEnd = ImportTableEnd::OnlyNameZero;
    SyntheticImage addressTableZeroEnd = Image(0x014c, false);
    addressTableZeroEnd.importEnd = ImportTableEnd::OnlyAddressTableZero;
    bool written = Write(folder, "x86.dll", Image(0x014c, false)) && Write(folder, "x64.dll", Image(0x8664, true)) &&
                   Write(folder, "mingw-x86.dll", mingw32) && Write(folder, "mingw-x64.dll", mingw64) &&
                   Write(folder, "import-end-name-zero.dll", nameZeroEnd) &&
                   Write(folder, "import-end-address-table-zero.dll", addressTableZeroEnd);
    return written ? 0 : 1;
}
