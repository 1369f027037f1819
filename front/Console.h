#ifndef FRONT_CONSOLE_H
#define FRONT_CONSOLE_H

// Carries out the console command in argv[1], or prints the usage text.
void RunConsole(int argc, char** argv);

// The banner and the usage lines, naming the program as programName.
void PrintUsage(const char* programName);

#endif
