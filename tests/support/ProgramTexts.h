#ifndef TESTS_SUPPORT_PROGRAM_TEXTS_H
#define TESTS_SUPPORT_PROGRAM_TEXTS_H

#include <gtest/gtest.h>

#include <string>

#include "Programs.h"

// What the programs print on the console, byte for byte.
inline const std::string kStartPrompt = "Press <ENTER> to start\n";
inline const std::string kStopPrompt = "Running. Press <ENTER> to stop\n";

inline std::string UsageText(const ProgramRow& program, const std::string& programName) {
    return std::string("\n") + program.bannerLine + "Usage:\n" + "\t" + programName + " [install|uninstall]\n";
}

// The row of the program called `name`; the test fails on an unknown name.
inline const ProgramRow& ProgramNamed(const std::string& name) {
    for (const ProgramRow& program : kPrograms)
        if (name == program.name) return program;
    ADD_FAILURE() << "no program " << name << " in the program table";
    return kPrograms[0];
}

// The row of the program whose profile this suite links.
inline const ProgramRow& ProgramUnderTest() { return ProgramNamed(PROGRAM_UNDER_TEST); }

#endif
