// What the VM prints through its vfprintf hook: formatted by the host, the
// first 16 KiB kept until the kernel has started, the newest 2 KiB after,
// each cut visibly and never past its buffer. The record lives as long as
// the process; each test restarts it as a new VM's life.
#include <gtest/gtest.h>

#include <stdarg.h>
#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "Detail.h"
#include "VmOutput.h"

namespace {

const char kStartCut[] = "\n[cut: the VM printed more than 16 KiB before the kernel started]";
const char kTailCut[] = "[cut: only the last 2 KiB are kept]\n";

jint Print(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    jint printed = VmPrintHook(stdout, format, arguments);
    va_end(arguments);
    return printed;
}

std::string Appended(bool (*append)(Detail*)) {
    std::unique_ptr<Detail> kept(new Detail);
    ClearDetail(kept.get());
    append(kept.get());
    return std::string(kept->text, kept->length);
}

std::string StartOutput() { return Appended(AppendVmStartOutput); }
std::string Tail() { return Appended(AppendVmOutputTail); }

TEST(VmOutputTest, KeepsTheFirst16KiBUntilTheStartAndTheLast2KiBAfter) {
    RestartVmOutput(0);
    EXPECT_FALSE(VmPrintedBeforeStart());
    EXPECT_EQ(StartOutput(), "");

    EXPECT_EQ(Print("Unrecognized VM option '%s'\n", "Xfoo"), 30);
    EXPECT_TRUE(VmPrintedBeforeStart());
    EXPECT_EQ(StartOutput(), "Unrecognized VM option 'Xfoo'\n");

    // Longer than the hook formats on its stack, and past what is kept.
    const std::string longText(20000, 'x');
    EXPECT_EQ(Print("%s %lld\n", longText.c_str(), 1LL << 40), 20015);
    const std::string expected = "Unrecognized VM option 'Xfoo'\n" + longText;
    EXPECT_EQ(StartOutput(), expected.substr(0, 16384) + kStartCut);

    EndVmStartOutput();
    EXPECT_EQ(Tail(), "");
    Print("after the start: %d\n", 1);
    EXPECT_EQ(Tail(), "after the start: 1\n");
    EXPECT_EQ(StartOutput(), expected.substr(0, 16384) + kStartCut);

    // The ring keeps the newest bytes, in order, and says that it cut.
    const std::string more = std::string(3000, 'y') + "the last line\n";
    Print("%s", more.c_str());
    const std::string all = "after the start: 1\n" + more;
    EXPECT_EQ(Tail(), kTailCut + all.substr(all.size() - 2048));
}

// Printed before the start in pieces of these sizes: the detail holds the
// first 16 KiB, and says it cut only where more was printed. Each piece
// has bytes of its own, so that a piece kept in the wrong place shows.
TEST(VmOutputTest, StartOutputHoldsTheFirst16KiBAndSaysSoOnlyWhereItCut) {
    struct Case {
        const char* what;
        std::vector<size_t> pieces;
    };
    const Case cases[] = {
        {"16 KiB - 1", {16383}},
        {"exactly 16 KiB", {16384}},
        {"16 KiB in two pieces", {10000, 6384}},
        {"40 KiB in 1-KiB pieces", std::vector<size_t>(40, 1024)},
        {"one piece of 100 KiB", {100 * 1024}},
    };
    for (const Case& c : cases) {
        RestartVmOutput(0);
        std::string printed;
        for (size_t i = 0; i < c.pieces.size(); ++i) {
            const std::string piece(c.pieces[i], static_cast<char>('a' + i % 26));
            Print("%s", piece.c_str());
            printed += piece;
        }
        const bool cut = printed.size() > 16384;
        EXPECT_EQ(StartOutput(), printed.substr(0, 16384) + (cut ? kStartCut : "")) << c.what;
    }
}

// However much went through the tail before, the newest bytes win: the
// counter at 0, just below and past 1 GiB, just below its wrap at 4 GiB.
TEST(VmOutputTest, TailKeepsTheNewestBytesWhereverItsCounterStands) {
    for (unsigned long before : {0UL, 0x3FFFFF00UL, 0x40000005UL, 0xFFFFFF00UL}) {
        RestartVmOutput(before);
        EndVmStartOutput();
        std::string printed;
        for (int round = 0; round < 3; ++round) {
            Print("%s", std::string(1500, static_cast<char>('a' + round)).c_str());
            printed += std::string(1500, static_cast<char>('a' + round));
        }
        for (int pause = 0; pause < 40; ++pause) {
            Print("[gc] pause %02d\n", pause);
            char line[32];
            snprintf(line, sizeof line, "[gc] pause %02d\n", pause);
            printed += line;
        }
        EXPECT_EQ(Tail(), kTailCut + printed.substr(printed.size() - 2048)) << before;
    }
}

// A writer that has reserved its bytes but not yet copied them leaves a
// hole: the reader skips it and loses nothing after it, and shows the text
// once it is there. A NUL the VM prints is left out the same way.
TEST(VmOutputTest, TailSkipsBytesReservedButNotYetCopied) {
    for (unsigned long before : {0UL, 0xFFFFFFFCUL}) {
        RestartVmOutput(before);
        EndVmStartOutput();
        const std::string cut = before > 0 ? kTailCut : "";
        Print("before\n");
        unsigned long stalled = ReserveVmOutputTail(7);
        Print("after\n");
        EXPECT_EQ(Tail(), cut + "before\nafter\n") << before;
        CopyIntoVmOutputTail(stalled, "middle\n", 7);
        EXPECT_EQ(Tail(), cut + "before\nmiddle\nafter\n") << before;
        Print("a NUL:%c:\n", 0);
        EXPECT_EQ(Tail(), cut + "before\nmiddle\nafter\na NUL::\n") << before;
    }
}

}  // namespace
