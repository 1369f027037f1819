#ifndef HALVERN_PLATFORM_DESCRIPTORS_H
#define HALVERN_PLATFORM_DESCRIPTORS_H

// SIDs and self-relative security descriptors in Windows' binary layout,
// made from their parts: what the stand-in's security calls share.
#include <windows.h>

#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

typedef std::string SidBytes;  // a SID in Windows' layout

SidBytes MakeSid(uint64_t authority, const std::vector<DWORD>& subAuthorities);
SidBytes SidOf(PSID sid);
DWORD SidLength(PSID sid);
uint64_t SidAuthority(PSID sid);
DWORD SubAuthority(PSID sid, int index);
// "S-1-5-32-544" and the like; false for anything else.
bool ParseSidString(const std::string& text, SidBytes* sid);

// The accounts the system knows by name, with SDDL's aliases for them.
struct KnownAccount {
    const char* alias;  // SDDL's two letters, or null
    const char* sid;
    const char* name;
    const char* domain;
    SID_NAME_USE use;
};

const KnownAccount* FindKnownAccount(PSID sid);
// Empty for an alias not known.
SidBytes AliasSid(const char* alias);

// A Unix user is S-1-22-1-<uid>, as Samba names them.
SidBytes UserSid(uid_t uid);
bool IsUnixUser(PSID sid, uid_t* uid);

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

// Control bits the SDDL flags of a list set.
enum : WORD {
    kDaclAutoInheritRequired = 0x0100,
    kDaclAutoInherited = 0x0400,
    kDaclProtected = 0x1000,
};

// A self-relative descriptor in a block LocalFree releases; null without
// memory. size, when given, receives its length.
PSECURITY_DESCRIPTOR BuildDescriptor(const DescriptorParts& parts, DWORD* size);

#endif
