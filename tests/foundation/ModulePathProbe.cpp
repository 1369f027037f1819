// Prints what the launch layout functions return for this very program:
// the module path on the first line, the module directory on the second.
#include <stdio.h>
#include <stdlib.h>

#include "LaunchLayout.h"

int main() {
    char* path = GetModulePath();
    char* directory = GetModuleDirectory();
    printf("%s\n%s\n", path, directory);
    free(path);
    free(directory);
    return 0;
}
