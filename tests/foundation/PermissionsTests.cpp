// Who can change an installation: the judgement of one security descriptor
// (owner and permission list, written as SDDL), the service's own SID, and
// the walk over an installation on disk, where the POSIX stand-in makes a
// descriptor of the owner and mode bits as Wine does.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Installation.h"
#include "InstallationAccess.h"
#include "Permissions.h"
#include "ProgramTexts.h"

namespace {

const std::string kTrustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// NT SERVICE\AlderSvc (SHA-1 of "ALDERSVC" in UTF-16LE, worked out apart from the code).
const std::string kAlderService = "S-1-5-80-2178844823-2095691371-2980581804-1590190906-3690023065";
// Accounts of the test's own machine, as the system's lookup would answer.
const std::string kAdministratorsOwnAccount = "S-1-5-21-1-2-3-500";
const std::string kOrdinaryUser = "S-1-5-21-1-2-3-1001";
const std::string kUnknownAccount = "S-1-5-21-9-9-9-1002";

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) return "(no SID)";
    std::string copy = text;
    LocalFree(text);
    return copy;
}

AccountTrust TestMachineTrust(PSID account, void*) {
    std::string sid = SidText(account);
    if (sid == kAdministratorsOwnAccount) return AccountTrusted;
    if (sid == kUnknownAccount) return AccountNotVerified;
    return AccountNotTrusted;
}

struct Verdict {
    AccessVerdict verdict;
    std::string account;  // the SID named, "" when none
    DWORD rights;
    bool notVerified;
    bool operator==(const Verdict& other) const {
        return verdict == other.verdict && account == other.account && rights == other.rights &&
               notVerified == other.notVerified;
    }
};

void PrintTo(const Verdict& verdict, std::ostream* out) {
    *out << "{verdict " << verdict.verdict << ", account \"" << verdict.account << "\", rights 0x" << std::hex
         << verdict.rights << std::dec << (verdict.notVerified ? ", not verified}" : "}");
}

Verdict Judge(const std::string& sddl, DWORD rightsThatMatter) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        ADD_FAILURE() << "not SDDL the stand-in reads: " << sddl;
        return {};
    }
    AccessFinding finding = JudgeAccess(descriptor, rightsThatMatter, TestMachineTrust, nullptr);
    LocalFree(descriptor);
    bool named = finding.verdict == OwnerNotTrusted || finding.verdict == AccountCanChange;
    return {finding.verdict, named ? SidText(finding.account) : "", finding.rights, finding.notVerified};
}

const Verdict kSafe = {OnlyTrustedCanChange, "", 0, false};
const std::string kEveryone = "S-1-1-0";
const std::string kAuthenticatedUsers = "S-1-5-11";
const std::string kUsers = "S-1-5-32-545";

// The lists Windows gives these folders out of the box.
const std::string kProgramFiles =
    "O:" + kTrustedInstaller + "G:" + kTrustedInstaller + "D:PAI(A;;FA;;;" + kTrustedInstaller + ")(A;CIIO;GA;;;" +
    kTrustedInstaller +
    ")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)"
    "(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)";
const std::string kDriveRoot = "O:" + kTrustedInstaller +
                               "D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)"
                               "(A;;0x4;;;AU)";
// What a folder an administrator makes below C:\ inherits from it.
const std::string kFolderBelowDriveRoot =
    "O:BAD:AI(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)(A;OICIID;0x1200a9;;;BU)"
    "(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)";

struct Case {
    const char* what;
    std::string sddl;
    DWORD rightsThatMatter;
    Verdict expected;
};

TEST(Permissions, JudgesOwnerAndPermissionList) {
    const std::string copiedFile =
        "D:AI(A;ID;FA;;;" + kTrustedInstaller + ")(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)(A;ID;0x1200a9;;;AC)";
    const Case cases[] = {
        // Safe.
        {"Program Files' own list", kProgramFiles, kRightsToChangeFolder, kSafe},
        {"a file an administrator copied below it, owned by their own account",
         "O:" + kAdministratorsOwnAccount + copiedFile, kRightsToChangeFile, kSafe},
        {"the service's own SID with full control", "O:SYD:(A;;FA;;;" + kAlderService + ")", kRightsToChangeFile,
         kSafe},
        {"the drive's root, for replacing what is below it", kDriveRoot, kRightsToReplaceBelow, kSafe},
        {"an empty list: no one may do anything", "O:BAD:", kRightsToChangeFile, kSafe},
        {"reading, running, attributes and extended attributes", "O:BAD:(A;;0x1201b9;;;WD)", kRightsToChangeFolder,
         kSafe},
        {"an inherit-only entry", "O:BAD:(A;OICIIO;GA;;;AU)", kRightsToChangeFolder, kSafe},
        {"a creator-owner entry on the object itself", "O:BAD:(A;;FA;;;CO)", kRightsToChangeFolder, kSafe},
        {"delete-child on a file means nothing", "O:BAD:(A;;0x40;;;WD)", kRightsToChangeFile, kSafe},
        // Changeable by others.
        {"no permission list", "O:BAD:NO_ACCESS_CONTROL", kRightsToChangeFile, {NoPermissionList, "", 0, false}},
        {"no DACL at all", "O:BA", kRightsToChangeFile, {NoPermissionList, "", 0, false}},
        {"an ordinary user as owner",
         "O:" + kOrdinaryUser + "D:(A;;FA;;;SY)",
         kRightsToChangeFile,
         {OwnerNotTrusted, kOrdinaryUser, 0, false}},
        {"an owner whose groups cannot be looked up",
         "O:" + kUnknownAccount + "D:(A;;FA;;;SY)",
         kRightsToChangeFile,
         {OwnerNotTrusted, kUnknownAccount, 0, true}},
        {"the drive's root as a home: anyone logged on may add a folder",
         kDriveRoot,
         kRightsToChangeFolder,
         {AccountCanChange, kAuthenticatedUsers, FILE_APPEND_DATA, false}},
        {"a folder made below C:\\: Authenticated Users may modify it",
         kFolderBelowDriveRoot,
         kRightsToChangeFolder,
         {AccountCanChange, kAuthenticatedUsers, FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE, false}},
        {"the same folder above the home: they may delete it",
         kFolderBelowDriveRoot,
         kRightsToReplaceBelow,
         {AccountCanChange, kAuthenticatedUsers, DELETE, false}},
        {"write data", "O:BAD:(A;;0x2;;;WD)", kRightsToChangeFile, {AccountCanChange, kEveryone, 0x2, false}},
        {"delete", "O:BAD:(A;;SD;;;WD)", kRightsToChangeFile, {AccountCanChange, kEveryone, DELETE, false}},
        {"delete a child of a folder",
         "O:BAD:(A;;0x40;;;BU)",
         kRightsToReplaceBelow,
         {AccountCanChange, kUsers, FILE_DELETE_CHILD, false}},
        {"write the list", "O:BAD:(A;;WD;;;BU)", kRightsToChangeFile, {AccountCanChange, kUsers, WRITE_DAC, false}},
        {"take ownership", "O:BAD:(A;;WO;;;BU)", kRightsToReplaceBelow, {AccountCanChange, kUsers, WRITE_OWNER, false}},
        {"generic write",
         "O:BAD:(A;;GW;;;AU)",
         kRightsToChangeFile,
         {AccountCanChange, kAuthenticatedUsers, GENERIC_WRITE, false}},
        {"generic all",
         "O:BAD:(A;;GA;;;AU)",
         kRightsToReplaceBelow,
         {AccountCanChange, kAuthenticatedUsers, GENERIC_ALL, false}},
        {"full control, of the rights that matter",
         "O:BAD:(A;OICI;FA;;;" + kOrdinaryUser + ")",
         kRightsToChangeFile,
         {AccountCanChange, kOrdinaryUser, FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER,
          false}},
        {"a deny entry is not weighed",
         "O:BAD:(D;;FA;;;AU)(A;;FW;;;AU)",
         kRightsToChangeFile,
         {AccountCanChange, kAuthenticatedUsers, FILE_WRITE_DATA | FILE_APPEND_DATA, false}},
        {"an account's rights from all its entries",
         "O:BAD:(A;;WD;;;AU)(A;;FR;;;WD)(A;;WO;;;AU)",
         kRightsToChangeFile,
         {AccountCanChange, kAuthenticatedUsers, WRITE_DAC | WRITE_OWNER, false}},
        {"an account known not to be trusted before one not verified",
         "O:BAD:(A;;FW;;;" + kUnknownAccount + ")(A;;SD;;;WD)",
         kRightsToChangeFile,
         {AccountCanChange, kEveryone, DELETE, false}},
        {"an account not verified, when it is the only one",
         "O:BAD:(A;;SD;;;" + kUnknownAccount + ")",
         kRightsToChangeFile,
         {AccountCanChange, kUnknownAccount, DELETE, true}},
        {"an untrusted owner before the entries",
         "O:" + kOrdinaryUser + "D:(A;;GA;;;WD)",
         kRightsToChangeFile,
         {OwnerNotTrusted, kOrdinaryUser, 0, false}},
    };
    for (const Case& c : cases) EXPECT_EQ(Judge(c.sddl, c.rightsThatMatter), c.expected) << c.what;
}

TEST(Permissions, ServiceSidIsTheHashOfTheUpperCasedName) {
    const std::map<std::string, std::string> cases = {
        {"TrustedInstaller", kTrustedInstaller},  // Windows' own service
        {"AlderSvc", kAlderService},
        {"aldersvc", kAlderService},
    };
    for (const auto& c : cases) {
        SidBuffer sid = ServiceSidOf(c.first.c_str());
        EXPECT_EQ(SidText(sid.bytes), c.second) << c.first;
    }
}

// ------------------------------------------------------------ an installation on disk

struct Seen {
    InstallationPart part;
    std::string path;
    DWORD readError;
    std::string finding;
};

std::vector<Seen> JudgeOnDisk(const Installation& install, int* judged) {
    std::vector<Seen> seen;
    *judged = JudgeInstallationAccess(
        install.windowsPathOf("AlderSvc.exe").c_str(), install.moduleDirectory().c_str(),
        [](const PartAccess& access, void* context) {
            static_cast<std::vector<Seen>*>(context)->push_back(
                {access.part, access.path, access.readError, access.finding != nullptr ? access.finding : ""});
        },
        &seen);
    return seen;
}

class InstallationOnDisk : public ::testing::Test {
  protected:
    InstallationOnDisk() {
        install.installStandinVm();
        install.writeInitFile(ProgramUnderTest().initFileName, "-Xmx64m\n");
        install.addJar("kernel.jar");
        install.addJar("util.jar");
        Installation::WriteFile(install.bin() / "AlderSvc.exe", "MZ");
    }
    static void LetOthersWrite(const std::filesystem::path& path) {
        std::filesystem::permissions(path, std::filesystem::perms::others_write, std::filesystem::perm_options::add);
    }
    std::string Windows(const std::filesystem::path& path) const { return Installation::WindowsForm(path.string()); }

    Installation install;
};

// Every part and each folder down to it is there, and only the trusted may
// change them: nothing is named, /tmp (sticky, world-writable) included.
TEST_F(InstallationOnDisk, NamesNothingWhereOnlyTheOwnerMayWrite) {
    int judged = 0;
    EXPECT_TRUE(JudgeOnDisk(install, &judged).empty());
    const int parts = 10;        // program, its folder, init file, server, jvm.dll, home, lib, util, two jars
    const int foldersAbove = 2;  // "\" and "\tmp"
    EXPECT_EQ(judged, parts + foldersAbove);
}

TEST_F(InstallationOnDisk, NamesEachPartOthersMayWrite) {
    LetOthersWrite(install.bin() / ProgramUnderTest().initFileName);
    LetOthersWrite(install.jarDirectory());
    LetOthersWrite(install.server() / "jvm.dll");
    int judged = 0;
    std::vector<Seen> seen = JudgeOnDisk(install, &judged);
    const std::string init = Windows(install.bin() / ProgramUnderTest().initFileName);
    const std::string util = Windows(install.jarDirectory());
    const std::string jvm = Windows(install.server() / "jvm.dll");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].part, InitFilePart);
    EXPECT_EQ(seen[0].finding, "Everyone can modify " + init + ": any of them can run code as LocalSystem");
    EXPECT_EQ(seen[1].part, VmLibraryPart);
    EXPECT_EQ(seen[1].path, jvm);
    EXPECT_EQ(seen[2].part, JarFolderPart);
    EXPECT_EQ(seen[2].finding, "Everyone can modify " + util + ": any of them can run code as LocalSystem");
    EXPECT_TRUE(LeadsToVmLibrary(seen[1].part));
    EXPECT_FALSE(LeadsToVmLibrary(seen[0].part));
}

// An owner is asked of the system: an account not in Administrators, and
// one that cannot be looked up, are named, and so is what follows.
TEST_F(InstallationOnDisk, NamesAnOwnerThatIsNoAdministrator) {
    if (geteuid() != 0) GTEST_SKIP() << "giving a file away takes root";
    const std::filesystem::path init = install.bin() / ProgramUnderTest().initFileName;
    const std::string initWindows = Windows(init);
    struct Case {
        const char* what;
        uid_t owner;
        std::string finding;
    };
    const Case cases[] = {
        {"root, an administrator", 0, ""},
        {"nobody, an ordinary user", 65534,
         "Unix User\\nobody owns " + initWindows +
             " and so can change its permissions: that account can run code as LocalSystem"},
        {"an account no one can look up", 54321,
         "S-1-22-1-54321, whose groups could not be looked up, owns " + initWindows +
             " and so can change its permissions: that account can run code as LocalSystem"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(chown(init.c_str(), c.owner, 0), 0) << c.what;
        int judged = 0;
        std::vector<Seen> seen = JudgeOnDisk(install, &judged);
        EXPECT_EQ(seen.empty() ? "" : seen[0].finding, c.finding) << c.what;
        EXPECT_EQ(seen.size(), c.finding.empty() ? 0u : 1u) << c.what;
    }
}

// Above the home only the rights that replace what is below count: a
// folder others may write, sticky or not.
TEST_F(InstallationOnDisk, NamesAFolderAboveTheHomeWhereOthersMayReplaceIt) {
    Installation nested("outer/home/bin");
    Installation::WriteFile(nested.bin() / "AlderSvc.exe", "MZ");
    std::filesystem::path outer = nested.root() / "outer";
    LetOthersWrite(outer);
    int judged = 0;
    std::vector<Seen> seen = JudgeOnDisk(nested, &judged);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].part, FolderAbovePart);
    EXPECT_EQ(seen[0].finding, "Everyone can modify " + Windows(outer) + ": any of them can run code as LocalSystem");

    std::filesystem::permissions(outer, std::filesystem::perms::sticky_bit, std::filesystem::perm_options::add);
    EXPECT_TRUE(JudgeOnDisk(nested, &judged).empty()) << "a sticky folder lets no one replace another's folder";
}

// The folders of a Windows path, each judged as its part: the stand-in reads
// "C:\\..." below the working directory, where every folder here lets others
// write, so that each is heard of.
TEST(InstallationFolders, AreTheProgramsTheHomeItsLibrariesAndEachFolderAboveIt) {
    Installation scratch;
    WorkingDirectoryGuard directory;
    ASSERT_EQ(chdir(scratch.root().c_str()), 0);
    struct Case {
        std::string moduleDirectory;
        std::vector<std::pair<InstallationPart, std::string>> folders;
    };
    const Case cases[] = {
        {"C:\\Halvern\\Alder\\bin\\",
         {{ProgramFolderPart, "C:\\Halvern\\Alder\\bin"},
          {HomePart, "C:\\Halvern\\Alder"},
          {LibFolderPart, "C:\\Halvern\\Alder\\lib"},
          {JarFolderPart, "C:\\Halvern\\Alder\\lib\\util"},
          {FolderAbovePart, "C:\\"},
          {FolderAbovePart, "C:\\Halvern"}}},
        // At the root's first level, the home is the root.
        {"C:\\bin\\",
         {{ProgramFolderPart, "C:\\bin"},
          {HomePart, "C:\\"},
          {LibFolderPart, "C:\\lib"},
          {JarFolderPart, "C:\\lib\\util"}}},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(scratch.root() / "C:");
        for (const auto& folder : c.folders) {
            std::string posix = folder.second;
            std::replace(posix.begin(), posix.end(), '\\', '/');
            std::filesystem::create_directories(scratch.root() / posix);
            std::filesystem::permissions(scratch.root() / posix, std::filesystem::perms::others_write,
                                         std::filesystem::perm_options::add);
        }
        std::vector<std::pair<InstallationPart, std::string>> seen;
        JudgeInstallationAccess(
            (c.moduleDirectory + "AlderSvc.exe").c_str(), c.moduleDirectory.c_str(),
            [](const PartAccess& access, void* context) {
                static_cast<std::vector<std::pair<InstallationPart, std::string>>*>(context)->push_back(
                    {access.part, access.path});
            },
            &seen);
        EXPECT_EQ(seen, c.folders) << c.moduleDirectory;
    }
}

}  // namespace
