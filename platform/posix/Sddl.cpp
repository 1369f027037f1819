// ConvertStringSecurityDescriptorToSecurityDescriptorA on POSIX, for the
// subset of SDDL the stand-in declares.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "Descriptors.h"

namespace {

struct SddlRight {
    const char* code;
    ACCESS_MASK mask;
};

const SddlRight kSddlRights[] = {
    {"FA", FILE_ALL_ACCESS}, {"FR", FILE_GENERIC_READ}, {"FW", FILE_GENERIC_WRITE}, {"FX", FILE_GENERIC_EXECUTE},
    {"GA", GENERIC_ALL},     {"GR", GENERIC_READ},      {"GW", GENERIC_WRITE},      {"GX", GENERIC_EXECUTE},
    {"SD", DELETE},          {"RC", READ_CONTROL},      {"WD", WRITE_DAC},          {"WO", WRITE_OWNER},
};

const struct {
    const char* code;
    BYTE flag;
} kSddlAceFlags[] = {{"OI", OBJECT_INHERIT_ACE},
                     {"CI", CONTAINER_INHERIT_ACE},
                     {"NP", NO_PROPAGATE_INHERIT_ACE},
                     {"IO", INHERIT_ONLY_ACE},
                     {"ID", INHERITED_ACE}};

bool ParseSddlSid(const std::string& text, SidBytes* sid) {
    if (text.size() == 2) {
        *sid = AliasSid(text.c_str());
        return !sid->empty();
    }
    return ParseSidString(text, sid);
}

bool ParseSddlRights(const std::string& text, ACCESS_MASK* mask) {
    *mask = 0;
    if (text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0) {
        char* end = nullptr;
        unsigned long value = strtoul(text.c_str() + 2, &end, 16);
        *mask = static_cast<ACCESS_MASK>(value);
        return text.size() > 2 && *end == '\0' && value <= 0xFFFFFFFFul;
    }
    if (text.empty() || text.size() % 2 != 0) return false;
    for (size_t at = 0; at < text.size(); at += 2) {
        const SddlRight* found = nullptr;
        for (const SddlRight& right : kSddlRights)
            if (text.compare(at, 2, right.code) == 0) found = &right;
        if (found == nullptr) return false;
        *mask |= found->mask;
    }
    return true;
}

bool ParseSddlFlags(const std::string& text, BYTE* flags) {
    *flags = 0;
    if (text.size() % 2 != 0) return false;
    for (size_t at = 0; at < text.size(); at += 2) {
        bool known = false;
        for (const auto& flag : kSddlAceFlags) {
            if (text.compare(at, 2, flag.code) != 0) continue;
            *flags |= flag.flag;
            known = true;
        }
        if (!known) return false;
    }
    return true;
}

std::vector<std::string> SplitAt(const std::string& text, char separator) {
    std::vector<std::string> fields;
    size_t at = 0;
    for (size_t end; (end = text.find(separator, at)) != std::string::npos; at = end + 1)
        fields.push_back(text.substr(at, end - at));
    fields.push_back(text.substr(at));
    return fields;
}

// "A;OICI;FA;;;SY": type, flags, rights, two object GUIDs (empty), account.
bool ParseSddlAce(const std::string& text, Ace* ace) {
    std::vector<std::string> fields = SplitAt(text, ';');
    if (fields.size() != 6 || !fields[3].empty() || !fields[4].empty()) return false;
    if (fields[0] == "A") {
        ace->type = ACCESS_ALLOWED_ACE_TYPE;
    } else if (fields[0] == "D") {
        ace->type = ACCESS_DENIED_ACE_TYPE;
    } else {
        return false;
    }
    return ParseSddlFlags(fields[1], &ace->flags) && ParseSddlRights(fields[2], &ace->mask) &&
           ParseSddlSid(fields[5], &ace->sid);
}

// What follows "D:": its flags, then the entries in parentheses.
bool ParseSddlDacl(const std::string& text, DescriptorParts* parts) {
    parts->daclPresent = true;
    if (text == "NO_ACCESS_CONTROL") {
        parts->daclNull = true;
        return true;
    }
    size_t at = 0;
    while (at < text.size() && text[at] != '(') {
        if (text.compare(at, 1, "P") == 0) {
            parts->daclControl |= kDaclProtected;
            at += 1;
        } else if (text.compare(at, 2, "AI") == 0) {
            parts->daclControl |= kDaclAutoInherited;
            at += 2;
        } else if (text.compare(at, 2, "AR") == 0) {
            parts->daclControl |= kDaclAutoInheritRequired;
            at += 2;
        } else {
            return false;
        }
    }
    while (at < text.size()) {
        size_t close = text.find(')', at);
        if (text[at] != '(' || close == std::string::npos) return false;
        Ace ace;
        if (!ParseSddlAce(text.substr(at + 1, close - at - 1), &ace)) return false;
        parts->aces.push_back(ace);
        at = close + 1;
    }
    return true;
}

// The parts in any order, each once: "O:" owner, "G:" group, "D:" list.
bool ParseSddl(const std::string& text, DescriptorParts* parts) {
    size_t at = 0;
    std::string seen;
    while (at < text.size()) {
        if (at + 2 > text.size() || text[at + 1] != ':' || seen.find(text[at]) != std::string::npos) return false;
        char part = text[at];
        seen += part;
        size_t end = at + 2;
        // A part runs to the next "X:" outside parentheses.
        for (int depth = 0; end < text.size(); ++end) {
            if (text[end] == '(') ++depth;
            if (text[end] == ')') --depth;
            if (depth == 0 && end + 1 < text.size() && text[end + 1] == ':' && strchr("OGDS", text[end]) != nullptr)
                break;
        }
        std::string value = text.substr(at + 2, end - at - 2);
        bool parsed = part == 'O'   ? ParseSddlSid(value, &parts->owner)
                      : part == 'G' ? ParseSddlSid(value, &parts->group)
                      : part == 'D' ? ParseSddlDacl(value, parts)
                                    : false;
        if (!parsed) return false;
        at = end;
    }
    return true;
}

}  // namespace

extern "C" BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR StringSecurityDescriptor,
                                                                            DWORD StringSDRevision,
                                                                            PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                                            PULONG SecurityDescriptorSize) {
    DescriptorParts parts;
    if (StringSecurityDescriptor == nullptr || SecurityDescriptor == nullptr || StringSDRevision != SDDL_REVISION_1 ||
        !ParseSddl(StringSecurityDescriptor, &parts)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD size = 0;
    *SecurityDescriptor = BuildDescriptor(parts, &size);
    if (*SecurityDescriptor == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (SecurityDescriptorSize != nullptr) *SecurityDescriptorSize = size;
    return TRUE;
}
