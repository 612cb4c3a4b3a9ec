// Who could change a folder, decided from descriptors as Windows has them (Debian's Wine keeps
// no access lists of its own).
#include <gtest/gtest.h>
#include "base/FolderSecurity.h"
#include "engine/process/Process.h"
#include <sddl.h>
#include <string>
#include <vector>

namespace {

const wchar_t kSelf[] = L"S-1-5-21-1004336348-1177238915-682003330-1000";
#define TI L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"

struct Descriptor {
    PSECURITY_DESCRIPTOR sd = nullptr;
    explicit Descriptor(const wchar_t *sddl)
    {
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr)) << sddl;
    }
    ~Descriptor() { LocalFree(sd); }
};

TEST(FolderSecurity, OthersCouldChangeWhatTheirEntriesAndOwnershipAllow)
{
    PSID self = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(kSelf, &self));
    const int inside = kChangeInsideOf, rename = kChangeRename, children = kChangeChildren;
    struct Case {
        const char *what;
        const wchar_t *sddl;
        bool inside, rename, children;
    } cases[] = {
        {"a second drive's root: everyone signed in may add, not rename what is there",
         L"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICIIO;SDGXGWGR;;;AU)(A;;0x1301bf;;;AU)(A;OICI;0x1200a9;;;BU)",
         true, true, false},
        {"a folder made below it, inheriting that",
         L"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;SDGXGWGR;;;AU)(A;OICIID;0x1200a9;;;BU)", true, true, false},
        {"Program Files",
         L"O:" TI L"D:PAI(A;;FA;;;" TI L")(A;CIIO;GA;;;" TI L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)"
         L"(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)",
         false, false, false},
        {"another user's profile folder",
         L"O:S-1-5-21-1004336348-1177238915-682003330-1001D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
         L"(A;OICI;FA;;;S-1-5-21-1004336348-1177238915-682003330-1001)",
         true, true, true},
        {"the administrator's own profile folder",
         L"O:S-1-5-21-1004336348-1177238915-682003330-1000D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
         L"(A;OICI;FA;;;S-1-5-21-1004336348-1177238915-682003330-1000)",
         false, false, false},
        {"a folder a user made on the second drive",
         L"O:S-1-5-21-1004336348-1177238915-682003330-1001D:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)"
         L"(A;OICIID;SDGXGWGR;;;AU)(A;OICIIOID;FA;;;CO)",
         true, true, true},
        {"a folder granting Users modify", L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;BU)", true, true, false},
        {"one letting Everyone change its permissions", L"O:BAD:(A;OICI;FA;;;BA)(A;;WD;;;WD)", true, true, true},
    };
    for (const Case &c : cases) {
        Descriptor descriptor(c.sddl);
        EXPECT_EQ(c.inside, OthersCouldChange(descriptor.sd, inside, self)) << c.what;
        EXPECT_EQ(c.rename, OthersCouldChange(descriptor.sd, rename, self)) << c.what;
        EXPECT_EQ(c.children, OthersCouldChange(descriptor.sd, children, self)) << c.what;
    }
    // No access list at all lets everyone do everything (made by hand: Wine reads the SDDL for
    // it as an empty list).
    SECURITY_DESCRIPTOR open;
    PSID administrators = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-32-544", &administrators));
    InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&open, administrators, FALSE);
    SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
    EXPECT_TRUE(OthersCouldChange(&open, children, self));
    LocalFree(administrators);
    // The protection the setup applies lets nobody else do anything.
    PSECURITY_DESCRIPTOR applied = CreateInstallFolderDescriptor();
    ASSERT_NE(nullptr, applied);
    EXPECT_FALSE(OthersCouldChange(applied, inside | rename | children, self));
    EXPECT_FALSE(OthersCouldChange(applied, inside | rename | children, nullptr)) << "whoever installs";
    LocalFree(applied);
    // The record's: users may not even open it, so none of them can hold it.
    PSECURITY_DESCRIPTOR record = CreateOnlyAdministratorsFileDescriptor();
    ASSERT_NE(nullptr, record);
    EXPECT_FALSE(OthersCouldChange(record, inside | rename | children, nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(record, &present, &acl, &defaulted) && present && acl);
    // Every entry is an allowing one for Administrators or SYSTEM (Wine has no
    // GetEffectiveRightsFromAcl to ask for the users' rights).
    PSID administrators2 = nullptr, system = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(L"BA", &administrators2) && ConvertStringSidToSidW(L"SY", &system));
    EXPECT_EQ(2, acl->AceCount);
    for (WORD i = 0; i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE *entry = nullptr;
        ASSERT_TRUE(GetAce(acl, i, (void **)&entry));
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, entry->Header.AceType);
        PSID sid = &entry->SidStart;
        EXPECT_TRUE(EqualSid(sid, administrators2) || EqualSid(sid, system)) << i;
    }
    LocalFree(administrators2);
    LocalFree(system);
    LocalFree(record);
    LocalFree(self);
}

// The installing account's own objects: another user's where what this process makes does not
// come out owned by the account (Windows: his unelevated programs carry his SID), trusted where it
// does (Wine).
TEST(FolderSecurity, TheAccountsOwnObjectsAreAnotherUsersUnlessOwnersAreNotKeptApart)
{
    PSID account = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(kSelf, &account));
    const std::wstring self = kSelf;
    struct Case {
        const char *what;
        std::wstring sddl;
        DescriptorVerdict untrusted, trusted;
    } cases[] = {
        {"the account's, full control for it", L"O:" + self + L"D:P(A;OICI;FA;;;" + self + L")(A;OICI;FA;;;BA)",
         kOthersByItsOwn, kOnlyTrustedCanChange},
        {"Administrators', full control for the account", L"O:BAD:P(A;OICI;FA;;;BA)(A;;FA;;;" + self + L")",
         kOthersByItsOwn, kOnlyTrustedCanChange},
        {"Administrators', modify for the account through inheritance",
         L"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;0x1301bf;;;" + self + L")", kOthersThroughInheritance, kOnlyTrustedCanChange},
        {"the account's, another user given full control", L"O:" + self + L"D:P(A;;FA;;;S-1-5-21-1004336348-1177238915-682003330-1001)",
         kOthersByItsOwn, kOthersByItsOwn},
        {"only administrators'", L"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", kOnlyTrustedCanChange,
         kOnlyTrustedCanChange},
        {"Users may write attributes (and so make an empty folder a junction)", L"O:BAD:P(A;OICI;FA;;;BA)(A;;0x100;;;BU)",
         kOthersByItsOwn, kOthersByItsOwn},
    };
    for (const Case &c : cases) {
        Descriptor descriptor(c.sddl.c_str());
        EXPECT_EQ(c.untrusted, JudgeDescriptor(descriptor.sd, nullptr)) << c.what;
        EXPECT_EQ(c.trusted, JudgeDescriptor(descriptor.sd, account)) << c.what;
    }
    LocalFree(account);
}

// The groups a program started for the user keeps: the plain user's alone.
TEST(FolderSecurity, AProgramStartedForTheUserKeepsOnlyThePlainUsersGroups)
{
    struct Case {
        const wchar_t *sid;
        DWORD attributes;
        bool stays;
    } cases[] = {
        {L"S-1-1-0", SE_GROUP_ENABLED, true},                                   // Everyone
        {L"S-1-5-32-545", SE_GROUP_ENABLED, true},                              // Users
        {L"S-1-5-11", SE_GROUP_ENABLED, true},                                  // Authenticated Users
        {L"S-1-5-4", SE_GROUP_ENABLED, true},                                   // Interactive
        {L"S-1-5-5-0-71023", SE_GROUP_ENABLED | SE_GROUP_LOGON_ID, true},       // the logon session
        {L"S-1-5-32-544", SE_GROUP_ENABLED | SE_GROUP_OWNER, false},            // Administrators
        {L"S-1-5-32-551", SE_GROUP_ENABLED, false},                             // Backup Operators
        {L"S-1-5-32-547", SE_GROUP_ENABLED, false},                             // Power Users
        {L"S-1-5-21-1004336348-1177238915-682003330-512", SE_GROUP_ENABLED, false},  // Domain Admins
        {L"S-1-5-21-1004336348-1177238915-682003330-1105", SE_GROUP_ENABLED, false}, // a group a domain adds
    };
    for (const Case &c : cases) {
        PSID sid = nullptr;
        ASSERT_TRUE(ConvertStringSidToSidW(c.sid, &sid)) << c.sid;
        EXPECT_EQ(c.stays, GroupStaysWithTheUser(sid, c.attributes)) << c.sid;
        LocalFree(sid);
    }
}

}
