#ifndef FRONT_PROGRAM_H
#define FRONT_PROGRAM_H

// The whole program: offers the process to the service dispatcher first;
// when the Service Control Manager did not start it, carries out a console
// command. Returns the process exit code.
int RunProgram(int argc, char** argv);

#endif
