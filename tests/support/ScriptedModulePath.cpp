#include "ScriptedModulePath.h"

#include <string.h>

namespace {

enum class Mode { Real, Scripted, Failing };

Mode mode = Mode::Real;
std::string scriptedPath;
std::u16string scriptedWidePath;
ScriptedModulePath::CutName cutName = ScriptedModulePath::CutName::Terminated;
std::vector<DWORD> capacitiesAsked;

}  // namespace

namespace ScriptedModulePath {

static std::u16string Widened(const std::string& utf8) {
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::u16string wide(static_cast<size_t>(units > 0 ? units : 1), u'\0');
    if (units > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], units);
    wide.resize(wide.size() - 1);
    return wide;
}

void Set(const std::string& path, CutName cut) {
    mode = Mode::Scripted;
    scriptedPath = path;
    scriptedWidePath = Widened(path);
    cutName = cut;
    capacitiesAsked.clear();
}

void SetUnfaithful(const std::string& ansiPath, const std::string& widePath) {
    Set(ansiPath);
    scriptedWidePath = Widened(widePath);
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

namespace {

// Windows' contract, for either form; capacities asked are the A form's.
template <typename Unit>
DWORD Answer(const std::basic_string<Unit>& path, Unit* buffer, DWORD size) {
    if (mode == Mode::Failing || size == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (path.size() < size) {
        memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(Unit));
        return static_cast<DWORD>(path.size());
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    if (cutName == ScriptedModulePath::CutName::Unterminated) {
        memcpy(buffer, path.data(), size * sizeof(Unit));
    } else {
        memcpy(buffer, path.data(), (size - 1) * sizeof(Unit));
        buffer[size - 1] = 0;
    }
    return size;
}

}  // namespace

extern "C" DWORD WINAPI __real_GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

extern "C" DWORD WINAPI __wrap_GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    if (mode == Mode::Real) return __real_GetModuleFileNameW(hModule, lpFilename, nSize);
    return Answer(scriptedWidePath, lpFilename, nSize);
}

extern "C" DWORD WINAPI __real_GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

extern "C" DWORD WINAPI __wrap_GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    if (mode == Mode::Real) return __real_GetModuleFileNameA(hModule, lpFilename, nSize);
    capacitiesAsked.push_back(nSize);
    return Answer(scriptedPath, lpFilename, nSize);
}
