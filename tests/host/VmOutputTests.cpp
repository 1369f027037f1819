// What the VM prints through its vfprintf hook: formatted by the host, the
// first 16 KiB kept until the kernel has started, a 2 KiB tail after, each
// cut visibly and never past its buffer. One VM's life in order, since the
// record lives as long as the process.
#include <gtest/gtest.h>

#include <stdarg.h>
#include <stdio.h>

#include <string>

#include "Detail.h"
#include "VmOutput.h"

namespace {

jint Print(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    jint printed = VmPrintHook(stdout, format, arguments);
    va_end(arguments);
    return printed;
}

Detail Kept;

std::string StartOutput() {
    ClearDetail(&Kept);
    AppendVmStartOutput(&Kept);
    return std::string(Kept.text, Kept.length);
}

std::string Tail() {
    ClearDetail(&Kept);
    AppendVmOutputTail(&Kept);
    return std::string(Kept.text, Kept.length);
}

TEST(VmOutputTest, KeepsTheFirst16KiBUntilTheStartAndTheLast2KiBAfter) {
    EXPECT_FALSE(VmPrintedBeforeStart());
    EXPECT_EQ(StartOutput(), "");

    EXPECT_EQ(Print("Unrecognized VM option '%s'\n", "Xfoo"), 30);
    EXPECT_TRUE(VmPrintedBeforeStart());
    EXPECT_EQ(StartOutput(), "Unrecognized VM option 'Xfoo'\n");

    // Longer than the hook formats on its stack, and past what is kept.
    const std::string longText(20000, 'x');
    EXPECT_EQ(Print("%s %lld\n", longText.c_str(), 1LL << 40), 20015);
    const std::string expected = "Unrecognized VM option 'Xfoo'\n" + longText;
    EXPECT_EQ(StartOutput(),
              expected.substr(0, 16384) + "\n[cut: the VM printed more than 16 KiB before the kernel started]");

    EndVmStartOutput();
    EXPECT_EQ(Tail(), "");
    Print("after the start: %d\n", 1);
    EXPECT_EQ(Tail(), "after the start: 1\n");
    EXPECT_EQ(StartOutput(),
              expected.substr(0, 16384) + "\n[cut: the VM printed more than 16 KiB before the kernel started]");

    // The ring keeps the newest bytes, in order, and says that it cut.
    const std::string more = std::string(3000, 'y') + "the last line\n";
    Print("%s", more.c_str());
    const std::string all = "after the start: 1\n" + more;
    EXPECT_EQ(Tail(), "[cut: only the last 2 KiB are kept]\n" + all.substr(all.size() - 2048));
}

}  // namespace
