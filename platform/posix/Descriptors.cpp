// SIDs and self-relative security descriptors in Windows' binary layout, and
// the calls that read them.
#include "Descriptors.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

// ------------------------------------------------------------ SIDs

SidBytes MakeSid(uint64_t authority, const std::vector<DWORD>& subAuthorities) {
    SidBytes sid;
    sid += static_cast<char>(1);  // revision
    sid += static_cast<char>(subAuthorities.size());
    for (int shift = 40; shift >= 0; shift -= 8) sid += static_cast<char>((authority >> shift) & 0xFF);
    for (DWORD sub : subAuthorities) sid.append(reinterpret_cast<const char*>(&sub), sizeof sub);
    return sid;
}

static const BYTE* SidData(PSID sid) { return static_cast<const BYTE*>(sid); }

DWORD SidLength(PSID sid) { return 8 + 4 * static_cast<DWORD>(SidData(sid)[1]); }

SidBytes SidOf(PSID sid) { return SidBytes(static_cast<const char*>(sid), SidLength(sid)); }

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

static const uint64_t kUnixUserAuthority = 22;

SidBytes UserSid(uid_t uid) { return MakeSid(kUnixUserAuthority, {1, static_cast<DWORD>(uid)}); }

bool IsUnixUser(PSID sid, uid_t* uid) {
    if (SidAuthority(sid) != kUnixUserAuthority || SidData(sid)[1] != 2 || SubAuthority(sid, 0) != 1) return false;
    *uid = static_cast<uid_t>(SubAuthority(sid, 1));
    return true;
}

bool ParseSidString(const std::string& text, SidBytes* sid) {
    if (text.compare(0, 4, "S-1-") != 0) return false;
    std::vector<uint64_t> numbers;
    size_t at = 4;
    while (at <= text.size()) {
        size_t end = text.find('-', at);
        if (end == std::string::npos) end = text.size();
        if (end == at || end - at > 19) return false;
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

static const KnownAccount kKnownAccounts[] = {
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

static SidBytes KnownSid(const KnownAccount& account) {
    SidBytes sid;
    ParseSidString(account.sid, &sid);
    return sid;
}

SidBytes AliasSid(const char* alias) {
    for (const KnownAccount& account : kKnownAccounts)
        if (account.alias != nullptr && strcmp(account.alias, alias) == 0) return KnownSid(account);
    return SidBytes();
}

const KnownAccount* FindKnownAccount(PSID sid) {
    for (const KnownAccount& account : kKnownAccounts)
        if (KnownSid(account) == SidOf(sid)) return &account;
    return nullptr;
}

// ------------------------------------------------------------ descriptors

static const WORD kSelfRelative = 0x8000;
static const WORD kDaclPresent = 0x0004;
static const size_t kDescriptorHeader = 20;  // SECURITY_DESCRIPTOR_RELATIVE
static const BYTE kAclRevision = 2;

static void PutWord(std::string* bytes, size_t at, WORD value) { memcpy(&(*bytes)[at], &value, sizeof value); }
static void PutDword(std::string* bytes, size_t at, DWORD value) { memcpy(&(*bytes)[at], &value, sizeof value); }

static std::string BuildAcl(const std::vector<Ace>& aces) {
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

static DWORD DescriptorOffset(PSECURITY_DESCRIPTOR descriptor, size_t field) {
    DWORD offset;
    memcpy(&offset, static_cast<const BYTE*>(descriptor) + field, sizeof offset);
    return offset;
}

static WORD DescriptorControl(PSECURITY_DESCRIPTOR descriptor) {
    WORD control;
    memcpy(&control, static_cast<const BYTE*>(descriptor) + 2, sizeof control);
    return control;
}

// ------------------------------------------------------------ the calls

extern "C" HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    free(hMem);
    return nullptr;
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
