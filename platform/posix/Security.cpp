// Security descriptors of files, accounts and tokens on POSIX, as Wine
// presents a Unix file system: a file keeps no descriptor of its own; one is
// made from its owner and mode bits.
#include <windows.h>

#include <errno.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Descriptors.h"
#include "PathForm.h"

namespace {

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
    const KnownAccount* known = FindKnownAccount(Sid);
    if (known != nullptr) {
        name = known->name;
        domain = known->domain;
        use = known->use;
    } else if (IsUnixUser(Sid, &uid)) {
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
    SidBytes sid = SidOf(SidToCheck);
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
