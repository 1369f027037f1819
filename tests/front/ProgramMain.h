#ifndef TESTS_FRONT_PROGRAM_MAIN_H
#define TESTS_FRONT_PROGRAM_MAIN_H

#include <string>
#include <vector>

int ProgramMain(int argc, char** argv);

// Calls the entry point with these arguments (argv[0] first) and returns its
// exit code; what it printed goes to *output.
int RunProgramMain(const std::vector<std::string>& arguments, std::string* output);

#endif
