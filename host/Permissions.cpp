#include "Permissions.h"

#include <windows.h>

#include <stdint.h>
#include <string.h>

#include "ProductProfile.h"

const DWORD kRightsToChangeFile =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
const DWORD kRightsToChangeFolder = kRightsToChangeFile | FILE_DELETE_CHILD;
const DWORD kRightsToReplaceBelow = DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

// ------------------------------------------------------------ fixed accounts

// A SID of up to six sub-authorities, laid out as Windows lays out a SID.
struct FixedSid {
    BYTE revision;
    BYTE subAuthorityCount;
    BYTE authority[6];
    DWORD subAuthorities[6];
};

static const FixedSid kSystem = {1, 1, SECURITY_NT_AUTHORITY, {18}};
static const FixedSid kAdministrators = {1, 2, SECURITY_NT_AUTHORITY, {32, 544}};
static const FixedSid kTrustedInstaller = {
    1, 6, SECURITY_NT_AUTHORITY, {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u}};
// Entries for these give no one else a right on the object itself: CREATOR
// OWNER and CREATOR GROUP stand in for whoever creates an object below it,
// OWNER RIGHTS for the owner, who is judged on its own.
static const FixedSid kCreatorOwner = {1, 1, SECURITY_CREATOR_SID_AUTHORITY, {0}};
static const FixedSid kCreatorGroup = {1, 1, SECURITY_CREATOR_SID_AUTHORITY, {1}};
static const FixedSid kOwnerRights = {1, 1, SECURITY_CREATOR_SID_AUTHORITY, {4}};

static PSID AsSid(const void* sid) { return const_cast<void*>(sid); }

PSID AdministratorsSid() { return AsSid(&kAdministrators); }

// ------------------------------------------------------------ the service's SID

static uint32_t RotateLeft(uint32_t value, int bits) { return (value << bits) | (value >> (32 - bits)); }

static void Sha1Block(uint32_t state[5], const uint8_t block[64]) {
    uint32_t words[80];
    for (int i = 0; i < 16; ++i)
        words[i] = static_cast<uint32_t>(block[4 * i]) << 24 | static_cast<uint32_t>(block[4 * i + 1]) << 16 |
                   static_cast<uint32_t>(block[4 * i + 2]) << 8 | block[4 * i + 3];
    for (int i = 16; i < 80; ++i) words[i] = RotateLeft(words[i - 3] ^ words[i - 8] ^ words[i - 14] ^ words[i - 16], 1);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t mix, constant;
        if (i < 20) {
            mix = (b & c) | (~b & d), constant = 0x5A827999;
        } else if (i < 40) {
            mix = b ^ c ^ d, constant = 0x6ED9EBA1;
        } else if (i < 60) {
            mix = (b & c) | (b & d) | (c & d), constant = 0x8F1BBCDC;
        } else {
            mix = b ^ c ^ d, constant = 0xCA62C1D6;
        }
        uint32_t next = RotateLeft(a, 5) + mix + e + constant + words[i];
        e = d, d = c, c = RotateLeft(b, 30), b = a, a = next;
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d, state[4] += e;
}

// The digest as five big-endian words.
static void Sha1(const uint8_t* data, size_t length, uint32_t state[5]) {
    static const uint32_t kStart[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    memcpy(state, kStart, sizeof kStart);
    size_t whole = length - length % 64;
    for (size_t at = 0; at < whole; at += 64) Sha1Block(state, data + at);
    uint8_t tail[128] = {0};
    size_t rest = length - whole;
    memcpy(tail, data + whole, rest);
    tail[rest] = 0x80;
    size_t tailLength = rest + 9 <= 64 ? 64 : 128;
    uint64_t bits = static_cast<uint64_t>(length) * 8;
    for (int i = 0; i < 8; ++i) tail[tailLength - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
    for (size_t at = 0; at < tailLength; at += 64) Sha1Block(state, tail + at);
}

static uint32_t ByteSwapped(uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}

SidBuffer ServiceSidOf(const char* serviceName) {
    // A service name has at most 256 characters.
    uint8_t name[2 * 256];
    size_t length = 0;
    for (const char* at = serviceName; *at != '\0' && length < sizeof name; ++at) {
        char upper = *at >= 'a' && *at <= 'z' ? static_cast<char>(*at - 'a' + 'A') : *at;
        name[length++] = static_cast<uint8_t>(upper);
        name[length++] = 0;
    }
    uint32_t digest[5];
    Sha1(name, length, digest);
    // Windows reads the digest's bytes as little-endian numbers.
    FixedSid sid = {1, 6, SECURITY_NT_AUTHORITY, {80}};
    for (int i = 0; i < 5; ++i) sid.subAuthorities[i + 1] = ByteSwapped(digest[i]);
    SidBuffer buffer;
    memset(&buffer, 0, sizeof buffer);
    memcpy(buffer.bytes, &sid, sizeof sid);
    return buffer;
}

// ------------------------------------------------------------ the judgement

// Who is asked about the accounts the judgement does not know by name.
struct Asking {
    SidBuffer service;
    AccountTrustQuery ask;
    void* context;
};

static bool IsFixedTrusted(PSID account, const Asking& asking) {
    static const FixedSid* const kTrusted[] = {&kSystem,       &kAdministrators, &kTrustedInstaller,
                                               &kCreatorOwner, &kCreatorGroup,   &kOwnerRights};
    for (const FixedSid* trusted : kTrusted)
        if (EqualSid(account, AsSid(trusted))) return true;
    return EqualSid(account, AsSid(asking.service.bytes));
}

static AccountTrust TrustOf(PSID account, const Asking& asking) {
    if (IsFixedTrusted(account, asking)) return AccountTrusted;
    return asking.ask != nullptr ? asking.ask(account, asking.context) : AccountNotTrusted;
}

static void KeepAccount(AccessFinding* finding, PSID account) {
    DWORD length = GetLengthSid(account);
    memcpy(finding->account, account, length < sizeof finding->account ? length : sizeof finding->account);
}

// An allow entry that applies to the object itself: its account and mask.
static bool AllowsOnObject(PACL list, DWORD index, PSID* account, DWORD* mask) {
    void* entry = nullptr;
    if (!GetAce(list, index, &entry)) return false;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) return false;
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) return false;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    *account = &allowed->SidStart;
    *mask = allowed->Mask;
    return true;
}

// Everything the list allows the account, of the rights that matter.
static DWORD RightsOf(PACL list, PSID account, DWORD rightsThatMatter) {
    DWORD rights = 0;
    PSID entryAccount;
    DWORD mask;
    for (DWORD i = 0; i < list->AceCount; ++i)
        if (AllowsOnObject(list, i, &entryAccount, &mask) && EqualSid(entryAccount, account))
            rights |= mask & rightsThatMatter;
    return rights;
}

AccessFinding JudgeAccess(PSECURITY_DESCRIPTOR descriptor, DWORD rightsThatMatter, AccountTrustQuery ask,
                          void* context) {
    AccessFinding finding;
    memset(&finding, 0, sizeof finding);
    finding.verdict = OnlyTrustedCanChange;
    const Asking asking = {ServiceSidOf(Profile.serviceName), ask, context};
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) || !present || list == nullptr) {
        finding.verdict = NoPermissionList;
        return finding;
    }
    PSID owner = nullptr;
    if (GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner != nullptr) {
        AccountTrust trust = TrustOf(owner, asking);
        if (trust != AccountTrusted) {
            finding.verdict = OwnerNotTrusted;
            finding.notVerified = trust == AccountNotVerified;
            KeepAccount(&finding, owner);
            return finding;
        }
    }
    PSID account;
    DWORD mask;
    for (DWORD i = 0; i < list->AceCount; ++i) {
        if (!AllowsOnObject(list, i, &account, &mask) || (mask & rightsThatMatter) == 0) continue;
        AccountTrust trust = TrustOf(account, asking);
        if (trust == AccountTrusted) continue;
        if (finding.verdict == AccountCanChange && (!finding.notVerified || trust == AccountNotVerified)) continue;
        finding.verdict = AccountCanChange;
        finding.notVerified = trust == AccountNotVerified;
        KeepAccount(&finding, account);
    }
    if (finding.verdict == AccountCanChange) finding.rights = RightsOf(list, finding.account, rightsThatMatter);
    return finding;
}
