#ifndef HOST_PERMISSIONS_H
#define HOST_PERMISSIONS_H

#include <windows.h>

// Whether accounts other than the trusted ones can change a file or folder,
// judged from its owner and its permission list (DACL) alone. The trusted
// accounts are SYSTEM, Administrators, TrustedInstaller and the service's
// own SID; any other account is asked of the caller (an administrator's own
// account is trusted too). Deny entries are not weighed, so the judgement
// may warn of a right that a deny entry takes away, but never misses one.

// The rights that let an account change what an object holds or who may:
// write or append data (add a file or a subfolder), delete, write the list,
// take ownership, generic write and generic all; for a folder also delete
// what is in it.
extern const DWORD kRightsToChangeFile;
extern const DWORD kRightsToChangeFolder;
// The rights on a folder above the installation that let someone replace
// the folder below it: delete it or what is in it, write its list, take
// ownership, generic all.
extern const DWORD kRightsToReplaceBelow;

enum AccountTrust {
    AccountTrusted,
    AccountNotTrusted,
    AccountNotVerified,  // its groups could not be looked up: not trusted
};
typedef AccountTrust (*AccountTrustQuery)(PSID account, void* context);

enum AccessVerdict {
    OnlyTrustedCanChange,
    NoPermissionList,  // no DACL: anyone may do anything
    OwnerNotTrusted,   // an owner may always change the list
    AccountCanChange,  // an allow entry gives an untrusted account some of the rights
};

struct AccessFinding {
    AccessVerdict verdict;
    BYTE account[SECURITY_MAX_SID_SIZE];  // the owner, or the account an entry lets change it
    DWORD rights;                         // of the rights that matter, all the list's entries give that account
    bool notVerified;                     // whether the account is trusted could not be looked up
};

// Judges a descriptor read with its owner and DACL. One finding: no list
// first, then an untrusted owner, then the first entry for an account known
// not to be trusted (an unverified one only when there is none).
AccessFinding JudgeAccess(PSECURITY_DESCRIPTOR descriptor, DWORD rightsThatMatter, AccountTrustQuery ask,
                          void* context);

// A SID in a buffer of the largest size a SID can have.
struct SidBuffer {
    BYTE bytes[SECURITY_MAX_SID_SIZE];
};

// NT SERVICE\<name>: S-1-5-80- and the SHA-1 of the upper-cased UTF-16 name
// as five numbers. The name is ASCII, as every service name here is.
SidBuffer ServiceSidOf(const char* serviceName);

// BUILTIN\Administrators.
PSID AdministratorsSid();

#endif
