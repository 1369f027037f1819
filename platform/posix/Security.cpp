// Security descriptors, accounts and tokens on POSIX, as Wine presents a
// Unix file system: a file keeps no descriptor of its own; one is made from
// its owner and mode bits. SIDs, ACLs and descriptors have Windows' binary
// layout (self-relative), so that the code reading them is the same.
#include <windows.h>

#include <errno.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "PathForm.h"

namespace {

// ------------------------------------------------------------ SIDs

typedef std::string SidBytes;  // a SID in Windows' layout

const uint64_t kNtAuthority = 5;

SidBytes MakeSid(uint64_t authority, const std::vector<DWORD>& subAuthorities) {
    SidBytes sid;
    sid += static_cast<char>(1);  // revision
    sid += static_cast<char>(subAuthorities.size());
    for (int shift = 40; shift >= 0; shift -= 8) sid += static_cast<char>((authority >> shift) & 0xFF);
    for (DWORD sub : subAuthorities) sid.append(reinterpret_cast<const char*>(&sub), sizeof sub);
    return sid;
}

const BYTE* SidData(PSID sid) { return static_cast<const BYTE*>(sid); }

DWORD SidLength(PSID sid) { return 8 + 4 * static_cast<DWORD>(SidData(sid)[1]); }

uint64_t SidAuthority(PSID sid) {
    uint64_t authority = 0;
    for (int i = 2; i < 8; ++i) authority = (authority << 8) | SidData(sid)[i];
    return authority;
}

DWORD SubAuthority(PSID sid, int index) {
    DWORD value;
    memcpy(&value, SidData(sid) + 8 + 4 * index, sizeof value);
    return value;
}

// A Unix user is S-1-22-1-<uid>, as Samba names them.
const uint64_t kUnixUserAuthority = 22;

SidBytes UserSid(uid_t uid) { return MakeSid(kUnixUserAuthority, {1, static_cast<DWORD>(uid)}); }

bool IsUnixUser(PSID sid, uid_t* uid) {
    if (SidAuthority(sid) != kUnixUserAuthority || SidData(sid)[1] != 2 || SubAuthority(sid, 0) != 1) return false;
    *uid = static_cast<uid_t>(SubAuthority(sid, 1));
    return true;
}

// "S-1-5-32-544" and the like; false for anything else.
bool ParseSidString(const std::string& text, SidBytes* sid) {
    if (text.compare(0, 4, "S-1-") != 0) return false;
    std::vector<uint64_t> numbers;
    size_t at = 4;
    while (at <= text.size()) {
        size_t end = text.find('-', at);
        if (end == std::string::npos) end = text.size();
        if (end == at || end - at > 20) return false;
        uint64_t number = 0;
        for (size_t i = at; i < end; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            number = number * 10 + static_cast<uint64_t>(text[i] - '0');
        }
        numbers.push_back(number);
        at = end + 1;
    }
    if (numbers.size() < 2 || numbers.size() > 16 || numbers[0] >= (uint64_t{1} << 48)) return false;
    std::vector<DWORD> subs;
    for (size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] > 0xFFFFFFFFu) return false;
        subs.push_back(static_cast<DWORD>(numbers[i]));
    }
    *sid = MakeSid(numbers[0], subs);
    return true;
}

// The accounts the system knows by name, with SDDL's aliases for them.
struct KnownAccount {
    const char* alias;  // SDDL's two letters, or null
    const char* sid;
    const char* name;
    const char* domain;
    SID_NAME_USE use;
};

const KnownAccount kKnownAccounts[] = {
    {"SY", "S-1-5-18", "SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"BA", "S-1-5-32-544", "Administrators", "BUILTIN", SidTypeAlias},
    {"BU", "S-1-5-32-545", "Users", "BUILTIN", SidTypeAlias},
    {"AU", "S-1-5-11", "Authenticated Users", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"WD", "S-1-1-0", "Everyone", "", SidTypeWellKnownGroup},
    {"CO", "S-1-3-0", "CREATOR OWNER", "", SidTypeWellKnownGroup},
    {"OW", "S-1-3-4", "OWNER RIGHTS", "", SidTypeWellKnownGroup},
    {"AC", "S-1-15-2-1", "ALL APPLICATION PACKAGES", "APPLICATION PACKAGE AUTHORITY", SidTypeWellKnownGroup},
    {nullptr, "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "TrustedInstaller", "NT SERVICE",
     SidTypeWellKnownGroup},
};

SidBytes KnownSid(const KnownAccount& account) {
    SidBytes sid;
    ParseSidString(account.sid, &sid);
    return sid;
}

SidBytes AliasSid(const char* alias) {
    for (const KnownAccount& account : kKnownAccounts)
        if (account.alias != nullptr && strcmp(account.alias, alias) == 0) return KnownSid(account);
    return SidBytes();
}

// ------------------------------------------------------------ descriptors

struct Ace {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    SidBytes sid;
};

struct DescriptorParts {
    SidBytes owner;
    SidBytes group;
    bool daclPresent = false;
    bool daclNull = false;  // present, but no list: everyone may do anything
    WORD daclControl = 0;   // SE_DACL_PROTECTED and the like, from the SDDL flags
    std::vector<Ace> aces;
};

const WORD kSelfRelative = 0x8000;
const WORD kDaclPresent = 0x0004;
const WORD kDaclAutoInheritRequired = 0x0100;
const WORD kDaclAutoInherited = 0x0400;
const WORD kDaclProtected = 0x1000;
const size_t kDescriptorHeader = 20;  // SECURITY_DESCRIPTOR_RELATIVE
const BYTE kAclRevision = 2;

void PutWord(std::string* bytes, size_t at, WORD value) { memcpy(&(*bytes)[at], &value, sizeof value); }
void PutDword(std::string* bytes, size_t at, DWORD value) { memcpy(&(*bytes)[at], &value, sizeof value); }

std::string BuildAcl(const std::vector<Ace>& aces) {
    std::string acl(sizeof(ACL), '\0');
    for (const Ace& ace : aces) {
        std::string entry(8, '\0');
        entry[0] = static_cast<char>(ace.type);
        entry[1] = static_cast<char>(ace.flags);
        PutWord(&entry, 2, static_cast<WORD>(8 + ace.sid.size()));
        PutDword(&entry, 4, ace.mask);
        acl += entry + ace.sid;
    }
    acl[0] = static_cast<char>(kAclRevision);
    PutWord(&acl, 2, static_cast<WORD>(acl.size()));
    PutWord(&acl, 4, static_cast<WORD>(aces.size()));
    return acl;
}

// A self-relative descriptor in a block LocalFree releases.
PSECURITY_DESCRIPTOR BuildDescriptor(const DescriptorParts& parts, DWORD* size) {
    std::string bytes(kDescriptorHeader, '\0');
    bytes[0] = 1;  // revision
    WORD control = kSelfRelative | parts.daclControl;
    if (!parts.owner.empty()) {
        PutDword(&bytes, 4, static_cast<DWORD>(bytes.size()));
        bytes += parts.owner;
    }
    if (!parts.group.empty()) {
        PutDword(&bytes, 8, static_cast<DWORD>(bytes.size()));
        bytes += parts.group;
    }
    if (parts.daclPresent) {
        control |= kDaclPresent;
        if (!parts.daclNull) {
            PutDword(&bytes, 16, static_cast<DWORD>(bytes.size()));
            bytes += BuildAcl(parts.aces);
        }
    }
    PutWord(&bytes, 2, control);
    void* block = malloc(bytes.size());
    if (block == nullptr) return nullptr;
    memcpy(block, bytes.data(), bytes.size());
    if (size != nullptr) *size = static_cast<DWORD>(bytes.size());
    return block;
}

DWORD DescriptorOffset(PSECURITY_DESCRIPTOR descriptor, size_t field) {
    DWORD offset;
    memcpy(&offset, static_cast<const BYTE*>(descriptor) + field, sizeof offset);
    return offset;
}

WORD DescriptorControl(PSECURITY_DESCRIPTOR descriptor) {
    WORD control;
    memcpy(&control, static_cast<const BYTE*>(descriptor) + 2, sizeof control);
    return control;
}

// ------------------------------------------------------------ files

// Wine's reading of mode bits: SYSTEM gets full control; the owner, when it
// has any bit, may change the list and owner, and read and write as its
// bits say; Everyone gets the "other" bits. In a sticky folder others may
// add entries but not remove or replace another's, which is what delete
// and delete-child would let them do.
DescriptorParts FileDescriptorParts(const struct stat& info) {
    bool folder = S_ISDIR(info.st_mode);
    BYTE inherit = folder ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
    const ACCESS_MASK read = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
    const ACCESS_MASK write = FILE_GENERIC_WRITE | DELETE | FILE_DELETE_CHILD;
    DescriptorParts parts;
    parts.owner = UserSid(info.st_uid);
    parts.daclPresent = true;
    parts.aces.push_back({ACCESS_ALLOWED_ACE_TYPE, inherit, FILE_ALL_ACCESS, AliasSid("SY")});
    if ((info.st_mode & S_IRWXU) != 0) {
        ACCESS_MASK mask = WRITE_DAC | WRITE_OWNER;
        if ((info.st_mode & (S_IRUSR | S_IXUSR)) != 0) mask |= read;
        if ((info.st_mode & S_IWUSR) != 0) mask |= write;
        parts.aces.push_back({ACCESS_ALLOWED_ACE_TYPE, inherit, mask, parts.owner});
    }
    if ((info.st_mode & S_IRWXO) != 0) {
        ACCESS_MASK mask = 0;
        if ((info.st_mode & (S_IROTH | S_IXOTH)) != 0) mask |= read;
        if ((info.st_mode & S_IWOTH) != 0)
            mask |= (folder && (info.st_mode & S_ISVTX) != 0) ? FILE_GENERIC_WRITE : write;
        parts.aces.push_back({ACCESS_ALLOWED_ACE_TYPE, inherit, mask, AliasSid("WD")});
    }
    return parts;
}

// ------------------------------------------------------------ SDDL

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

// ------------------------------------------------------------ accounts

bool CopyName(const std::string& text, LPSTR buffer, LPDWORD capacity) {
    bool fits = buffer != nullptr && *capacity > text.size();
    if (fits) memcpy(buffer, text.c_str(), text.size() + 1);
    *capacity = static_cast<DWORD>(fits ? text.size() : text.size() + 1);
    return fits;
}

std::string UserName(uid_t uid) {
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) return std::string();
    return found->pw_name;
}

// The running account's SID; its token is in Administrators, as under Wine.
SidBytes ProgramAccount() { return UserSid(geteuid()); }

const char kUnixUserDomain[] = "Unix User";

std::u16string Widened(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string Narrowed(LPCWSTR text) {
    char narrow[1024];
    if (text == nullptr || WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr) == 0)
        return std::string();
    return narrow;
}

}  // namespace

// ------------------------------------------------------------ the calls

extern "C" HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    free(hMem);
    return nullptr;
}

extern "C" DWORD WINAPI GetNamedSecurityInfoA(LPCSTR pObjectName, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION,
                                              PSID* ppsidOwner, PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                                              PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
    if (pObjectName == nullptr || ObjectType != SE_FILE_OBJECT || ppSecurityDescriptor == nullptr)
        return ERROR_INVALID_PARAMETER;
    struct stat info;
    if (stat(ToPosixPath(pObjectName).c_str(), &info) != 0)
        return errno == ENOENT ? ERROR_FILE_NOT_FOUND : errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
    PSECURITY_DESCRIPTOR descriptor = BuildDescriptor(FileDescriptorParts(info), nullptr);
    if (descriptor == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    BOOL present, defaulted;
    if (ppsidOwner != nullptr) GetSecurityDescriptorOwner(descriptor, ppsidOwner, &defaulted);
    if (ppsidGroup != nullptr) *ppsidGroup = nullptr;
    if (ppDacl != nullptr) GetSecurityDescriptorDacl(descriptor, &present, ppDacl, &defaulted);
    if (ppSacl != nullptr) *ppSacl = nullptr;
    *ppSecurityDescriptor = descriptor;
    return ERROR_SUCCESS;
}

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

extern "C" BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pOwner,
                                                  LPBOOL lpbOwnerDefaulted) {
    DWORD offset = DescriptorOffset(pSecurityDescriptor, 4);
    *pOwner = offset != 0 ? static_cast<BYTE*>(pSecurityDescriptor) + offset : nullptr;
    *lpbOwnerDefaulted = FALSE;
    return TRUE;
}

extern "C" BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbDaclPresent,
                                                 PACL* pDacl, LPBOOL lpbDaclDefaulted) {
    *lpbDaclPresent = (DescriptorControl(pSecurityDescriptor) & kDaclPresent) != 0;
    DWORD offset = DescriptorOffset(pSecurityDescriptor, 16);
    *pDacl = *lpbDaclPresent && offset != 0 ? reinterpret_cast<PACL>(static_cast<BYTE*>(pSecurityDescriptor) + offset)
                                            : nullptr;
    *lpbDaclDefaulted = FALSE;
    return TRUE;
}

extern "C" BOOL WINAPI GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
    if (pAcl == nullptr || dwAceIndex >= pAcl->AceCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BYTE* ace = reinterpret_cast<BYTE*>(pAcl) + sizeof(ACL);
    for (DWORD i = 0; i < dwAceIndex; ++i) ace += reinterpret_cast<ACE_HEADER*>(ace)->AceSize;
    *pAce = ace;
    return TRUE;
}

extern "C" BOOL WINAPI IsValidSid(PSID pSid) {
    return pSid != nullptr && SidData(pSid)[0] == 1 && SidData(pSid)[1] <= 15;
}

extern "C" DWORD WINAPI GetLengthSid(PSID pSid) { return SidLength(pSid); }

extern "C" BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2) {
    return SidLength(pSid1) == SidLength(pSid2) && memcmp(pSid1, pSid2, SidLength(pSid1)) == 0;
}

extern "C" BOOL WINAPI ConvertSidToStringSidA(PSID Sid, LPSTR* StringSid) {
    if (!IsValidSid(Sid) || StringSid == nullptr) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    std::string text = "S-1-" + std::to_string(SidAuthority(Sid));
    for (int i = 0; i < SidData(Sid)[1]; ++i) text += "-" + std::to_string(SubAuthority(Sid, i));
    *StringSid = static_cast<LPSTR>(malloc(text.size() + 1));
    if (*StringSid == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    memcpy(*StringSid, text.c_str(), text.size() + 1);
    return TRUE;
}

// Well-known accounts by their English names; Unix users as "Unix User\name".
extern "C" BOOL WINAPI LookupAccountSidA(LPCSTR, PSID Sid, LPSTR Name, LPDWORD cchName, LPSTR ReferencedDomainName,
                                         LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse) {
    if (!IsValidSid(Sid)) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    std::string name, domain;
    SID_NAME_USE use = SidTypeUser;
    uid_t uid;
    for (const KnownAccount& account : kKnownAccounts) {
        if (KnownSid(account) != SidBytes(static_cast<const char*>(Sid), SidLength(Sid))) continue;
        name = account.name;
        domain = account.domain;
        use = account.use;
    }
    if (name.empty() && IsUnixUser(Sid, &uid)) {
        name = UserName(uid);
        domain = kUnixUserDomain;
    }
    if (name.empty()) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    bool nameFits = CopyName(name, Name, cchName);
    bool domainFits = CopyName(domain, ReferencedDomainName, cchReferencedDomainName);
    if (!nameFits || !domainFits) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *peUse = use;
    return TRUE;
}

extern "C" HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

// A token is a handle CloseHandle can close; an open /dev/null stands for it.
extern "C" BOOL WINAPI OpenProcessToken(HANDLE, DWORD, HANDLE* TokenHandle) {
    *TokenHandle = CreateFileA("\\dev\\null", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    return *TokenHandle != INVALID_HANDLE_VALUE;
}

extern "C" BOOL WINAPI GetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                           LPVOID TokenInformation, DWORD TokenInformationLength,
                                           LPDWORD ReturnLength) {
    if (TokenInformationClass != TokenUser) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SidBytes sid = ProgramAccount();
    *ReturnLength = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    if (TokenInformation == nullptr || TokenInformationLength < *ReturnLength) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* user = static_cast<TOKEN_USER*>(TokenInformation);
    BYTE* sidCopy = static_cast<BYTE*>(TokenInformation) + sizeof(TOKEN_USER);
    memcpy(sidCopy, sid.data(), sid.size());
    user->User.Sid = sidCopy;
    user->User.Attributes = 0;
    return TRUE;
}

// The running account, and the groups every logged-on administrator is in.
extern "C" BOOL WINAPI CheckTokenMembership(HANDLE, PSID SidToCheck, PBOOL IsMember) {
    if (!IsValidSid(SidToCheck)) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    SidBytes sid(static_cast<const char*>(SidToCheck), SidLength(SidToCheck));
    *IsMember = sid == ProgramAccount() || sid == AliasSid("BA") || sid == AliasSid("BU") || sid == AliasSid("AU") ||
                sid == AliasSid("WD");
    return TRUE;
}

// root is in Administrators and Users; every other user in Users alone.
extern "C" NET_API_STATUS WINAPI NetUserGetLocalGroups(LPCWSTR servername, LPCWSTR username, DWORD level, DWORD,
                                                       LPBYTE* bufptr, DWORD, LPDWORD entriesread,
                                                       LPDWORD totalentries) {
    if (servername != nullptr || level != 0) return ERROR_INVALID_PARAMETER;
    std::string name = Narrowed(username);
    std::string prefix = std::string(kUnixUserDomain) + "\\";
    if (name.compare(0, prefix.size(), prefix) == 0) name.erase(0, prefix.size());
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwnam_r(name.c_str(), &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr)
        return NERR_UserNotFound;
    std::vector<std::u16string> groups;
    if (found->pw_uid == 0) groups.push_back(Widened("Administrators"));
    groups.push_back(Widened("Users"));
    size_t size = groups.size() * sizeof(LOCALGROUP_USERS_INFO_0);
    for (const std::u16string& group : groups) size += (group.size() + 1) * sizeof(WCHAR);
    BYTE* block = static_cast<BYTE*>(malloc(size));
    if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    auto* infos = reinterpret_cast<LOCALGROUP_USERS_INFO_0*>(block);
    auto* text = reinterpret_cast<WCHAR*>(block + groups.size() * sizeof(LOCALGROUP_USERS_INFO_0));
    for (size_t i = 0; i < groups.size(); ++i) {
        memcpy(text, groups[i].c_str(), (groups[i].size() + 1) * sizeof(WCHAR));
        infos[i].lgrui0_name = text;
        text += groups[i].size() + 1;
    }
    *bufptr = block;
    *entriesread = *totalentries = static_cast<DWORD>(groups.size());
    return NERR_Success;
}

extern "C" NET_API_STATUS WINAPI NetApiBufferFree(LPVOID Buffer) {
    free(Buffer);
    return NERR_Success;
}
