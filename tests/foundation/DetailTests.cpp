// The detail text of a failure: UTF-8 from every source the host has (its
// own texts, the VM's UTF-16 strings, ANSI paths), cut visibly and on a
// character boundary before it passes what one event string holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Detail.h"

namespace {

const char kCutMarker[] = "\n[cut: the rest does not fit in one event]";

std::string Built(void (*build)(Detail*)) {
    static Detail detail;
    ClearDetail(&detail);
    build(&detail);
    EXPECT_EQ(detail.length, std::string(detail.text).size());
    return detail.text;
}

TEST(Detail, KeepsEveryCharacterFromEverySource) {
    struct Case {
        const char* what;
        void (*build)(Detail*);
        std::string text;
    };
    const Case cases[] = {
        {"text and numbers",
         [](Detail* d) {
             AppendText(d, "Windows error ");
             AppendNumber(d, 193);
             AppendText(d, " and ");
             AppendNumber(d, -6);
         },
         "Windows error 193 and -6"},
        {"percent signs are text", [](Detail* d) { AppendText(d, "100% of %s%n"); }, "100% of %s%n"},
        {"UTF-16 from the VM, a supplementary character as a pair",
         [](Detail* d) {
             const uint16_t units[] = {'d', 0xE9, 'j', 0xE0, ' ', 0x7AEF, 0x53E3, ' ', 0xD83D, 0xDD0C};
             AppendUtf16(d, units, sizeof units / sizeof units[0]);
         },
         "d\xc3\xa9j\xc3\xa0 \xe7\xab\xaf\xe5\x8f\xa3 \xf0\x9f\x94\x8c"},
        {"a lone surrogate becomes U+FFFD",
         [](Detail* d) {
             const uint16_t units[] = {'a', 0xD800, 'b', 0xDC00};
             AppendUtf16(d, units, 4);
         },
         "a\xef\xbf\xbd"
         "b\xef\xbf\xbd"},
        // The detail is a C string: a NUL would end it, and lose the rest.
        {"a U+0000 shows as \\0 and the rest stays",
         [](Detail* d) {
             const uint16_t units[] = {'a', 0, 'b', 0, 0, 0xE9};
             AppendUtf16(d, units, 6);
         },
         "a\\0b\\0\\0\xc3\xa9"},
        {"ANSI text, here UTF-8, passes whole", [](Detail* d) { AppendAnsi(d, "C:\\Program Files\\caf\xc3\xa9"); },
         "C:\\Program Files\\caf\xc3\xa9"},
        {"a short option keeps all of itself", [](Detail* d) { AppendShortened(d, "-Xmx64m", 10); }, "-Xmx64m"},
        {"a long option keeps its two ends",
         [](Detail* d) {
             AppendShortened(d, (std::string(100, 'a') + std::string(300, 'b') + std::string(100, 'c')).c_str(), 100);
         },
         std::string(100, 'a') + " ... [300 bytes left out] ... " + std::string(100, 'c')},
    };
    for (const Case& c : cases) EXPECT_EQ(Built(c.build), c.text) << c.what;
}

TEST(Detail, CutsVisiblyOnACharacterBoundaryBeforeTheEventLimit) {
    for (size_t lead : {size_t{0}, size_t{1}, size_t{2}}) {
        static size_t leadBytes;
        leadBytes = lead;
        std::string text = Built([](Detail* d) {
            AppendText(d, std::string(leadBytes, 'x').c_str());
            // Three-byte characters, far past the capacity.
            std::string wide;
            for (int i = 0; i < 20000; ++i) wide += "\xe7\xab\xaf";
            AppendText(d, wide.c_str());
            AppendText(d, "never shown");
        });
        ASSERT_LE(text.size(), static_cast<size_t>(kDetailCapacity)) << lead;
        ASSERT_GT(text.size(), sizeof kCutMarker) << lead;
        EXPECT_EQ(text.substr(text.size() - (sizeof kCutMarker - 1)), kCutMarker) << lead;
        std::string kept = text.substr(lead, text.size() - (sizeof kCutMarker - 1) - lead);
        EXPECT_EQ(kept.size() % 3, 0u) << lead << ": a character was split";
        EXPECT_EQ(text.find("never shown"), std::string::npos) << lead;
    }
}

}  // namespace
