#include "FakeRegistry.h"

#include <string.h>
#include <strings.h>

#include <mutex>

namespace {

struct CaseInsensitive {
    bool operator()(const std::string& left, const std::string& right) const {
        return strcasecmp(left.c_str(), right.c_str()) < 0;
    }
};

using Values = std::map<std::string, FakeRegistry::Value, CaseInsensitive>;

struct OpenKey {
    std::string path;
};

std::mutex mutex;
std::map<std::string, Values, CaseInsensitive> keys;
std::map<FakeRegistry::Call, LSTATUS> refusals;
int openKeys = 0;

bool Refused(FakeRegistry::Call call, LSTATUS* error) {
    auto refusal = refusals.find(call);
    if (refusal == refusals.end()) return false;
    *error = refusal->second;
    return true;
}

// The key a handle stands for; null for HKEY_LOCAL_MACHINE or a bad handle.
OpenKey* Opened(HKEY key) {
    return key == HKEY_LOCAL_MACHINE || key == nullptr ? nullptr : reinterpret_cast<OpenKey*>(key);
}

}  // namespace

namespace FakeRegistry {

void Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    keys.clear();
    refusals.clear();
    openKeys = 0;
}

void Refuse(Call call, LSTATUS error) {
    std::lock_guard<std::mutex> lock(mutex);
    refusals[call] = error;
}

void AddKey(const std::string& path, const std::map<std::string, Value>& values) {
    std::lock_guard<std::mutex> lock(mutex);
    keys[path] = Values(values.begin(), values.end());
}

bool HasKey(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    return keys.count(path) != 0;
}

std::map<std::string, Value> ValuesOf(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    auto key = keys.find(path);
    if (key == keys.end()) return {};
    return std::map<std::string, Value>(key->second.begin(), key->second.end());
}

int OpenKeys() {
    std::lock_guard<std::mutex> lock(mutex);
    return openKeys;
}

Value Text(DWORD type, const std::string& text) { return {type, text + std::string(1, '\0')}; }

Value Number(DWORD number) { return {REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof number)}; }

}  // namespace FakeRegistry

using FakeRegistry::Call;

extern "C" LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM, void*,
                                          PHKEY phkResult, LPDWORD lpdwDisposition) {
    std::lock_guard<std::mutex> lock(mutex);
    *phkResult = nullptr;
    LSTATUS error;
    if (Refused(Call::CreateKey, &error)) return error;
    if (hKey != HKEY_LOCAL_MACHINE || lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    bool existed = keys.count(lpSubKey) != 0;
    keys[lpSubKey];
    if (lpdwDisposition != nullptr) *lpdwDisposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    ++openKeys;
    *phkResult = reinterpret_cast<HKEY>(new OpenKey{lpSubKey});
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    std::lock_guard<std::mutex> lock(mutex);
    *phkResult = nullptr;
    LSTATUS error;
    if (Refused(Call::OpenKey, &error)) return error;
    if (hKey != HKEY_LOCAL_MACHINE || lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    if (keys.count(lpSubKey) == 0) return ERROR_FILE_NOT_FOUND;
    ++openKeys;
    *phkResult = reinterpret_cast<HKEY>(new OpenKey{lpSubKey});
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, BYTE* lpData,
                                           LPDWORD lpcbData) {
    std::lock_guard<std::mutex> lock(mutex);
    LSTATUS error;
    if (Refused(Call::QueryValue, &error)) return error;
    OpenKey* key = Opened(hKey);
    if (key == nullptr || keys.count(key->path) == 0) return ERROR_INVALID_HANDLE;
    const Values& values = keys[key->path];
    auto value = values.find(lpValueName != nullptr ? lpValueName : "");
    if (value == values.end()) return ERROR_FILE_NOT_FOUND;
    if (lpType != nullptr) *lpType = value->second.type;
    DWORD size = static_cast<DWORD>(value->second.bytes.size());
    if (lpcbData == nullptr) return lpData == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    if (lpData != nullptr && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData != nullptr) memcpy(lpData, value->second.bytes.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                                         DWORD cbData) {
    std::lock_guard<std::mutex> lock(mutex);
    LSTATUS error;
    if (Refused(Call::SetValue, &error)) return error;
    OpenKey* key = Opened(hKey);
    if (key == nullptr || keys.count(key->path) == 0) return ERROR_INVALID_HANDLE;
    keys[key->path][lpValueName != nullptr ? lpValueName : ""] = {
        dwType, std::string(reinterpret_cast<const char*>(lpData), cbData)};
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    std::lock_guard<std::mutex> lock(mutex);
    LSTATUS error;
    if (Refused(Call::DeleteKey, &error)) return error;
    if (hKey != HKEY_LOCAL_MACHINE || lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    return keys.erase(lpSubKey) != 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    std::lock_guard<std::mutex> lock(mutex);
    OpenKey* key = Opened(hKey);
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    delete key;
    --openKeys;
    return ERROR_SUCCESS;
}
