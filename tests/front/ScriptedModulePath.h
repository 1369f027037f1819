#ifndef TESTS_FRONT_SCRIPTED_MODULE_PATH_H
#define TESTS_FRONT_SCRIPTED_MODULE_PATH_H

#include <string>

// Suites linked with LINKER:--wrap=GetModuleFileNameA get the program's own
// path from here, so a test can place "the program" anywhere: in a directory
// with blanks, in a tree with a stand-in VM, or past the console's buffer.
namespace ScriptedModulePath {

enum class CutName {
    Terminated,    // as current Windows: cut to nSize - 1 characters and a NUL
    Unterminated,  // as Windows XP: nSize characters and no NUL
};

// Windows form, e.g. "C:\\Program Files\\Halvern\\bin\\AlderSvc.exe".
void Set(const std::string& path, CutName cut = CutName::Terminated);
// The call fails and returns 0.
void Fail();
// Back to the real program path.
void Reset();

}  // namespace ScriptedModulePath

#endif
