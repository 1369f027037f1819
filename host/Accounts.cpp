#include "Accounts.h"

#include <windows.h>

#include <lm.h>
#include <sddl.h>
#include <stdio.h>
#include <string.h>

// ------------------------------------------------------------ answers kept

enum { kMostAnswersKept = 32 };

struct KeptAnswer {
    SidBuffer account;
    AccountTrust trust;
};

// Only one thread judges at a time: the start's, or a console command's.
static KeptAnswer Kept[kMostAnswersKept];
static int KeptCount = 0;

static const KeptAnswer* FindKept(PSID account) {
    for (int i = 0; i < KeptCount; ++i)
        if (EqualSid(Kept[i].account.bytes, account)) return &Kept[i];
    return nullptr;
}

static AccountTrust Keep(PSID account, AccountTrust trust) {
    if (KeptCount < kMostAnswersKept && GetLengthSid(account) <= sizeof Kept[0].account.bytes) {
        memcpy(Kept[KeptCount].account.bytes, account, GetLengthSid(account));
        Kept[KeptCount++].trust = trust;
    }
    return trust;
}

// ------------------------------------------------------------ the program's own account

static bool IsProgramAccount(PSID account) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } information;
    DWORD length = 0;
    bool same = GetTokenInformation(token, TokenUser, &information, sizeof information, &length) &&
                EqualSid(information.user.User.Sid, account);
    CloseHandle(token);
    return same;
}

static bool TokenInAdministrators() {
    BOOL member = FALSE;
    return CheckTokenMembership(nullptr, AdministratorsSid(), &member) && member;
}

// ------------------------------------------------------------ the system's lookup

struct AccountName {
    char name[256];
    char domain[256];
    SID_NAME_USE use;
};

static bool LookUpName(PSID account, AccountName* found) {
    DWORD nameLength = sizeof found->name;
    DWORD domainLength = sizeof found->domain;
    return LookupAccountSidA(nullptr, account, found->name, &nameLength, found->domain, &domainLength, &found->use);
}

static bool Widen(const char* text, WCHAR* wide, int capacity) {
    return MultiByteToWideChar(CP_ACP, 0, text, -1, wide, capacity) > 0;
}

static bool SameWide(LPCWSTR first, LPCWSTR second) {
    while (*first != 0 && *first == *second) ++first, ++second;
    return *first == *second;
}

// Whether the local groups of a user, indirect ones included, hold Administrators.
static AccountTrust UserTrust(const AccountName& user) {
    char qualified[sizeof user.domain + sizeof user.name + 1];
    snprintf(qualified, sizeof qualified, "%s%s%s", user.domain, user.domain[0] != '\0' ? "\\" : "", user.name);
    AccountName administrators;
    WCHAR wideUser[sizeof qualified];
    WCHAR wideAdministrators[sizeof administrators.name];
    if (!LookUpName(AdministratorsSid(), &administrators) || !Widen(qualified, wideUser, sizeof qualified) ||
        !Widen(administrators.name, wideAdministrators, sizeof administrators.name))
        return AccountNotVerified;
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    NET_API_STATUS status =
        NetUserGetLocalGroups(nullptr, wideUser, 0, LG_INCLUDE_INDIRECT, &buffer, MAX_PREFERRED_LENGTH, &read, &total);
    if (status != NERR_Success) {
        if (buffer != nullptr) NetApiBufferFree(buffer);
        return AccountNotVerified;
    }
    auto* groups = reinterpret_cast<LOCALGROUP_USERS_INFO_0*>(buffer);
    bool administrator = false;
    for (DWORD i = 0; i < read && !administrator; ++i)
        administrator = groups[i].lgrui0_name != nullptr && SameWide(groups[i].lgrui0_name, wideAdministrators);
    NetApiBufferFree(buffer);
    return administrator ? AccountTrusted : AccountNotTrusted;
}

// A local group cannot hold another, and a well-known group is not an
// administrator; a domain group, a computer or a deleted account cannot be
// looked up as a user.
static AccountTrust LookUpTrust(PSID account) {
    AccountName found;
    if (!LookUpName(account, &found)) return AccountNotVerified;
    if (found.use == SidTypeAlias || found.use == SidTypeWellKnownGroup) return AccountNotTrusted;
    if (found.use != SidTypeUser) return AccountNotVerified;
    return UserTrust(found);
}

AccountTrust TrustOfAccount(PSID account, void*) {
    const KeptAnswer* kept = FindKept(account);
    if (kept != nullptr) return kept->trust;
    if (IsProgramAccount(account) && TokenInAdministrators()) return Keep(account, AccountTrusted);
    return Keep(account, LookUpTrust(account));
}

// ------------------------------------------------------------ names

// NT SERVICE\<name>: S-1-5-80-...
static bool IsServiceSid(PSID account) {
    static const BYTE kServicePrefix[] = {1, 6, 0, 0, 0, 0, 0, 5, 80, 0, 0, 0};
    return GetLengthSid(account) >= sizeof kServicePrefix &&
           memcmp(static_cast<const BYTE*>(account) + 2, kServicePrefix + 2, sizeof kServicePrefix - 2) == 0;
}

void NameAccount(PSID account, char* name, size_t capacity, bool* group) {
    AccountName found;
    if (LookUpName(account, &found)) {
        *group = found.use == SidTypeGroup || found.use == SidTypeAlias || found.use == SidTypeWellKnownGroup;
        bool bare = found.domain[0] == '\0' || (found.use == SidTypeWellKnownGroup && !IsServiceSid(account));
        snprintf(name, capacity, "%s%s%s", bare ? "" : found.domain, bare ? "" : "\\", found.name);
        return;
    }
    *group = false;
    char* text = nullptr;
    if (ConvertSidToStringSidA(account, &text)) {
        snprintf(name, capacity, "%s", text);
        LocalFree(text);
    } else {
        snprintf(name, capacity, "an account that cannot be named");
    }
}
