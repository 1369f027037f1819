#ifndef TESTS_FRONT_CONSOLE_PROGRAMS_H
#define TESTS_FRONT_CONSOLE_PROGRAMS_H

#include <string>

// The five built programs and what sets them apart on the console.
struct Program {
    const char* name;
    const char* builtPath;
    const char* bannerLine;
    bool echoesErrors;
};

inline const Program kPrograms[] = {
    {"AlderSvc", ALDER_SVC_PATH, "Halvern ALDER Service Control\n", false},
    {"BirchSvc", BIRCH_SVC_PATH, "Halvern BIRCH Service Control\n", false},
    {"CedarSvc", CEDAR_SVC_PATH, "Halvern Cedar Service Control\n", true},
    {"HazelSvc", HAZEL_SVC_PATH, "Halvern Hazel Service Control\n", false},
    {"SorrelSvc", SORREL_SVC_PATH, "Halvern ROWAN Service Control\n", false},
};

inline const std::string kStartPrompt = "Press <ENTER> to start\n";
inline const std::string kStopPrompt = "Running. Press <ENTER> to stop\n";

inline std::string UsageText(const Program& program, const std::string& programName) {
    return std::string("\n") + program.bannerLine + "Usage:\n" + "\t" + programName + " [install|uninstall]\n";
}

#endif
