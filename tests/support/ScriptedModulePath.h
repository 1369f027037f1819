#ifndef TESTS_SUPPORT_SCRIPTED_MODULE_PATH_H
#define TESTS_SUPPORT_SCRIPTED_MODULE_PATH_H

#include <windows.h>

#include <string>
#include <vector>

// Suites linked with the scripted_module_path library get the program's own
// path from here (GetModuleFileNameA and GetModuleFileNameW are wrapped), so
// a test can place "the program" anywhere: in a directory with blanks, in an
// installation with a stand-in VM, past the console's buffer, in a folder
// the ANSI code page cannot name, or nowhere at all.
namespace ScriptedModulePath {

enum class CutName {
    Terminated,    // as current Windows: cut to nSize - 1 characters and a NUL
    Unterminated,  // as Windows XP: nSize characters and no NUL
};

// Windows form, e.g. "C:\\Program Files\\Halvern\\bin\\AlderSvc.exe"; the
// W form is the same path.
void Set(const std::string& path, CutName cut = CutName::Terminated);
// The A form is `ansiPath`, the W form `widePath` (UTF-8 here), as Windows
// gives them for a folder whose name the ANSI code page cannot hold, e.g.
// "C:\\??????\\AlderSvc.exe" and "C:\\Сервис\\AlderSvc.exe".
void SetUnfaithful(const std::string& ansiPath, const std::string& widePath);
// The call fails and returns 0.
void Fail();
// Back to the real program path; forgets the capacities asked.
void Reset();
// The buffer sizes the calls were made with since the last Set, Fail or Reset.
std::vector<DWORD> CapacitiesAsked();

}  // namespace ScriptedModulePath

#endif
