#include "ScriptedModulePath.h"

#include <string.h>

namespace {

enum class Mode { Real, Scripted, Failing };

Mode mode = Mode::Real;
std::string scriptedPath;
ScriptedModulePath::CutName cutName = ScriptedModulePath::CutName::Terminated;
std::vector<DWORD> capacitiesAsked;

}  // namespace

namespace ScriptedModulePath {

void Set(const std::string& path, CutName cut) {
    mode = Mode::Scripted;
    scriptedPath = path;
    cutName = cut;
    capacitiesAsked.clear();
}

void Fail() {
    mode = Mode::Failing;
    capacitiesAsked.clear();
}

void Reset() {
    mode = Mode::Real;
    capacitiesAsked.clear();
}

std::vector<DWORD> CapacitiesAsked() { return capacitiesAsked; }

}  // namespace ScriptedModulePath

extern "C" DWORD WINAPI __real_GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

extern "C" DWORD WINAPI __wrap_GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    if (mode == Mode::Real) return __real_GetModuleFileNameA(hModule, lpFilename, nSize);
    capacitiesAsked.push_back(nSize);
    if (mode == Mode::Failing || nSize == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (scriptedPath.size() < nSize) {
        memcpy(lpFilename, scriptedPath.c_str(), scriptedPath.size() + 1);
        return static_cast<DWORD>(scriptedPath.size());
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    if (cutName == ScriptedModulePath::CutName::Unterminated) {
        memcpy(lpFilename, scriptedPath.data(), nSize);
    } else {
        memcpy(lpFilename, scriptedPath.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
    }
    return nSize;
}
