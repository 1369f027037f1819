#ifndef HOST_ACCOUNTS_H
#define HOST_ACCOUNTS_H

#include <stddef.h>

#include <windows.h>

#include "Permissions.h"

// The system's word on an account that is not trusted by name: trusted when
// it is the account this program runs as and the program's token is in
// Administrators, or when the system's lookup of its local groups, indirect
// ones included, finds Administrators. A local or well-known group is not
// trusted; an account whose groups cannot be looked up is not verified.
// Answers are kept for the life of the process. A query for JudgeAccess.
AccountTrust TrustOfAccount(PSID account, void* context);

// An account's name for a message, in the ANSI code page: well-known ones
// without their domain ("Everyone", "Authenticated Users"), others with it
// ("BUILTIN\Users", "HOST\alice"), one that cannot be named as its SID.
// group tells whether it names a group of accounts.
void NameAccount(PSID account, char* name, size_t capacity, bool* group);

#endif
