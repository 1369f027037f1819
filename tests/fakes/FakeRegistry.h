#ifndef TESTS_FAKE_REGISTRY_H
#define TESTS_FAKE_REGISTRY_H

#include <windows.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

// In-memory stand-in for the registry calls, linked into test programs in
// place of the real ones: keys below HKEY_LOCAL_MACHINE by path (compared
// case-insensitively, as Windows does), values with their type and bytes.
// Every call can be told to fail with a given error code.
namespace FakeRegistry {

enum class Call { CreateKey, OpenKey, QueryValue, SetValue, DeleteKey };

struct Value {
    DWORD type;
    std::string bytes;
};

inline bool operator==(const Value& left, const Value& right) {
    return left.type == right.type && left.bytes == right.bytes;
}

inline void PrintTo(const Value& value, std::ostream* out) { *out << value.type << ":" << value.bytes; }

void Reset();
void Refuse(Call call, LSTATUS error);
// Puts a key in place, with the given values.
void AddKey(const std::string& path, const std::map<std::string, Value>& values);
bool HasKey(const std::string& path);
std::map<std::string, Value> ValuesOf(const std::string& path);
// Keys opened or created and not yet closed.
int OpenKeys();

// A REG_SZ / REG_EXPAND_SZ value's text, and a REG_DWORD value.
Value Text(DWORD type, const std::string& text);
Value Number(DWORD number);

}  // namespace FakeRegistry

#endif
