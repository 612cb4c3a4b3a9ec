// Payload extraction into a fresh, protected temporary folder; starting programs; the launch
// from the finish page.
#include <gtest/gtest.h>
#include <shlwapi.h>
#include "app/InstallOptions.h"
#include "engine/payload/Payload.h"
#include "engine/payload/PayloadManifest.h"
#include "engine/process/Process.h"
#include "engine/payload/TempFolder.h"
#include "support/TestSupport.h"
#include <aclapi.h>
#include <sddl.h>

namespace {

std::wstring StandInBrowser()
{
    return test::StandInFiles() + L"\\Velmarin.exe";
}

// A copy of the stand-in browser in a folder of the test: programs never run in the payload's
// staging folder, where their logs would be packed into the product.
struct BrowserCopy {
    BrowserCopy() : folder(test::MakeTempDir(L"browser copy")), path(folder + L"\\Velmarin.exe")
    {
        CopyFileW(StandInBrowser().c_str(), path.c_str(), FALSE);
    }
    ~BrowserCopy()
    {
        test::EndProcessesIn(folder);
        test::RemoveTree(folder);
    }
    std::wstring folder, path;
};

// Options whose temporary folder goes when the case ends, however it ends.
struct ExtractingOptions : CInstallOptions {
    ~ExtractingOptions() { ScheduleTempCleanup(); }
};

std::wstring WindowsTemp()
{
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\Temp\\";
}

TEST(Extraction, EveryFileOfTheTableLandsInTheExtractionFolder)
{
    std::wstring temp = WindowsTemp();
    ExtractingOptions options;
    DWORD before = GetTickCount();
    ASSERT_TRUE(options.ExtractPayload());
    std::wstring root = options.m_strTempRoot;
    ASSERT_EQ(0u, root.find(temp));
    long number = wcstol(root.c_str() + temp.size(), nullptr, 10);
    EXPECT_GE(number, (long)before - 1);
    EXPECT_EQ(root + L"\\Velmarin 3", options.m_strExtractDir);
    EXPECT_TRUE(test::FileExists(root + L"\\velmarin3zip.exe"));
    for (const std::wstring &file : test::PayloadFileTable())
        EXPECT_TRUE(test::FileExists(options.m_strExtractDir + file)) << test::Utf8(file);
}

// A folder in the Windows folder's Temp, protected before the payload program is written into
// it; where none takes its protection there, nothing is unpacked, and nothing is made in the
// user's own temporary folder. The program cannot change from its check until it has run, and
// one changed before its check is refused.
TEST(Extraction, IntoAFolderOnlyAdministratorsCanChangeThePayloadHeld)
{
    std::wstring temp = test::MakeTempDir(L"temp with spaces") + L"\\";
    // The payload program keeps its temporary files in the protected root: it never makes this.
    const std::wstring usersTemp = temp + L"not made\\";
    test::TempPathGuard guard(usersTemp);
    PSECURITY_DESCRIPTOR expected = CreateProtectedFolderDescriptor();
    ASSERT_NE(nullptr, expected);
    std::string protectedDescriptor((const char *)expected, GetSecurityDescriptorLength(expected));
    LocalFree(expected);
    struct Case {
        std::vector<std::wstring> refusedBelow;
        bool extracted;
    } cases[] = {{{}, true}, {{WindowsTemp()}, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.extracted);
        test::AppliedProtections protections(c.refusedBelow);
        ExtractingOptions options;
        // The extraction folder is made, and protected, once the payload program is held.
        std::vector<std::string> changes;
        protections.onApply = [&](const std::wstring &folder) {
            // Each folder is held from its first moment: not even now can it be moved away.
            if (MoveFileW(folder.c_str(), (folder + L" away").c_str()))
                changes.push_back("moved away while protected");
            std::wstring payload = std::wstring(options.m_strTempRoot) + L"\\velmarin3zip.exe";
            if (folder != options.m_strExtractDir)
                return;
            HANDLE writer = CreateFileW(payload.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
            if (writer != INVALID_HANDLE_VALUE && CloseHandle(writer))
                changes.push_back("opened for writing");
            if (MoveFileW(payload.c_str(), (payload + L".moved").c_str()) || DeleteFileW(payload.c_str()))
                changes.push_back("renamed or deleted");
        };
        bool extracted = options.ExtractPayload();
        EXPECT_EQ(std::vector<std::string>{}, changes);
        ASSERT_EQ(c.extracted, extracted);
        EXPECT_EQ(c.extracted, options.m_bExtractionProtected);
        EXPECT_FALSE(test::DirExists(usersTemp));
        if (!c.extracted) {
            EXPECT_TRUE(PathIsDirectoryEmptyW(temp.c_str())) << "nothing is made in the user's temporary folder";
            continue;
        }
        EXPECT_EQ(0u, std::wstring(options.m_strTempRoot).find(WindowsTemp()));
        ASSERT_EQ(2u, protections.applied.size());
        for (const test::AppliedProtections::Applied &applied : protections.applied)
            EXPECT_EQ(protectedDescriptor, applied.descriptor);
        EXPECT_TRUE(protections.applied[0].emptyThen) << "protected before the payload program was written";
    }

    std::string bytes(70000, 'p'), changed = bytes;
    changed[12345] = 'X';
    std::wstring file = temp + L"held.exe";
    struct Held {
        std::string contents;
        bool held;
    } held[] = {{bytes, true}, {changed, false}, {bytes.substr(1), false}};
    for (const Held &h : held) {
        test::WriteFile(file, h.contents);
        HANDLE handle = HoldFileWithContents(file.c_str(), bytes.data(), (DWORD)bytes.size());
        EXPECT_EQ(h.held, handle != INVALID_HANDLE_VALUE);
        CloseHandle(handle);
    }
    test::RemoveTree(temp);
}

std::string HexDigest(const std::wstring &path)
{
    ULONGLONG size = 0;
    BYTE digest[32] = {};
    char hex[65] = {};
    EXPECT_TRUE(HashFileContents(path.c_str(), size, digest));
    for (int i = 0; i < 32; ++i)
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

void Append(HANDLE file, const std::string &bytes)
{
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr) && written == bytes.size());
}

// The check keeps pace with an installer that writes a large file piece by piece: it hashes what
// is written so far. A part read before its bytes were there (Windows may show a file's new
// length first) is read again before a verdict; a file that really differs still fails.
TEST(Extraction, TheCheckFollowsAFileWhileItIsWritten)
{
    std::wstring root = test::MakeTempDir(L"growing");
    std::string large(600 * 1024, 'v');
    test::WriteFile(root + L"\\large", large);
    std::string text = "velmarin-payload-manifest 1\nversion 3.2.0.7\nfiles 1\ntotal 614400\n" +
                       HexDigest(root + L"\\large") + " 614400 \\mshtml.dll\n";
    CPayloadManifest manifest;
    ASSERT_TRUE(manifest.Parse(text.data(), text.size()));
    enum Road { kWritten, kLengthBeforeBytes, kDamaged };
    for (Road road : {kWritten, kLengthBeforeBytes, kDamaged}) {
        SCOPED_TRACE(road);
        std::wstring folder = root + L"\\road" + std::to_wstring(road);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        CExtractionCheck check(folder.c_str(), manifest);
        // As the installer opens its files: reading shared, writing not.
        HANDLE writer = CreateFileW((folder + L"\\mshtml.dll").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, writer);
        std::string first = large.substr(0, 400 * 1024);
        if (road == kLengthBeforeBytes)
            std::fill(first.begin() + 300 * 1024, first.end(), '\0');
        Append(writer, first);
        EXPECT_FALSE(check.CheckWrittenFiles()) << "not whole yet";
        // Its reader is the check: nothing else reads it.
        HANDLE reader = CreateFileW((folder + L"\\mshtml.dll").c_str(), GENERIC_READ, FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(INVALID_HANDLE_VALUE, reader) << "the part written is not being hashed";
        CloseHandle(reader);
        if (road == kLengthBeforeBytes) {
            SetFilePointer(writer, 300 * 1024, nullptr, FILE_BEGIN);
            Append(writer, large.substr(300 * 1024, 100 * 1024));
        }
        std::string rest = large.substr(400 * 1024);
        if (road == kDamaged)
            rest[rest.size() / 2] ^= 1;
        Append(writer, rest);
        CloseHandle(writer);
        EXPECT_EQ(road != kDamaged, check.Finish());
    }
    test::RemoveTree(root);
}

TEST(Extraction, AnExistingFolderOrFileIsNeverReused)
{
    std::wstring temp = test::MakeTempDir(L"taken");
    std::wstring prefix = temp + L"\\";
    CreateDirectoryW((prefix + L"500").c_str(), nullptr);
    test::WriteFile(prefix + L"501", "someone else's");
    WCHAR root[MAX_PATH];
    ASSERT_TRUE(CreateFreshTempRoot(prefix.c_str(), 500, root));
    EXPECT_EQ(0u, std::wstring(root).find(prefix));
    EXPECT_NE(prefix + L"500", root);
    EXPECT_NE(prefix + L"501", root);
    EXPECT_EQ("someone else's", test::ReadFile(prefix + L"501"));
    ASSERT_TRUE(CreateFreshTempRoot(prefix.c_str(), 600, root));
    EXPECT_EQ(prefix + L"600", root) << "the tick count while it is free";

    // The payload is written only into a new file.
    std::wstring payload = std::wstring(root) + L"\\velmarin3zip.exe";
    test::WriteFile(payload, "planted");
    EXPECT_FALSE(WriteResourceToFile(payload.c_str(), L"BIN", MAKEINTRESOURCEW(kPayloadResourceId)));
    EXPECT_EQ("planted", test::ReadFile(payload));
    DeleteFileW(payload.c_str());
    EXPECT_TRUE(WriteResourceToFile(payload.c_str(), L"BIN", MAKEINTRESOURCEW(kPayloadResourceId)));
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(kPayloadResourceId), L"BIN");
    EXPECT_EQ(SizeofResource(nullptr, resource), test::ReadFile(payload).size());
    EXPECT_FALSE(WriteResourceToFile(nullptr, L"BIN", MAKEINTRESOURCEW(kPayloadResourceId)));
    EXPECT_FALSE(WriteResourceToFile((std::wstring(root) + L"\\x").c_str(), L"BIN", MAKEINTRESOURCEW(999)));
    test::RemoveTree(temp);
}

// Another user who creates the tick-count names in advance (any user may make folders in the
// Windows folder's Temp) cannot stop the installation.
TEST(Extraction, ThousandsOfTakenNamesDoNotStopIt)
{
    std::wstring temp = WindowsTemp();
    DWORD now = GetTickCount();
    std::vector<std::wstring> taken;
    for (DWORD i = 0; i < 4000; ++i)
        if (CreateDirectoryW((temp + std::to_wstring(now + i)).c_str(), nullptr))
            taken.push_back(temp + std::to_wstring(now + i));
    ExtractingOptions options;
    EXPECT_TRUE(options.ExtractPayload());
    EXPECT_EQ(0u, std::wstring(options.m_strTempRoot).find(temp));
    EXPECT_TRUE(test::FileExists(options.m_strExtractDir + std::wstring(L"\\Velmarin.exe")));
    options.ScheduleTempCleanup();
    for (const std::wstring &folder : taken)
        RemoveDirectoryW(folder.c_str());
    // Where no folder can be made at all, it says so instead of trying for ever.
    WCHAR root[MAX_PATH];
    EXPECT_FALSE(CreateFreshTempRoot(L"Z:\\proc\\", 1, root));
    EXPECT_STREQ(L"", root);
}

// The folders are held open: nobody can swap them for folders of their own while the setup
// runs, and the clean-up still removes them.
TEST(Extraction, TheTemporaryFoldersCannotBeRenamedWhileTheSetupRuns)
{
    std::wstring temp = test::MakeTempDir(L"held");
    test::TempPathGuard guard(temp);
    ExtractingOptions options;
    ASSERT_TRUE(options.ExtractPayload());
    for (std::wstring folder : {std::wstring(options.m_strTempRoot), std::wstring(options.m_strExtractDir)}) {
        HANDLE mover = test::StartProcess(L"cmd.exe /c move \"" + folder + L"\" \"" + folder + L" swapped\"");
        ASSERT_NE(nullptr, mover);
        WaitForSingleObject(mover, 20000);
        CloseHandle(mover);
        EXPECT_TRUE(test::DirExists(folder)) << test::Utf8(folder);
        EXPECT_FALSE(test::DirExists(folder + L" swapped")) << test::Utf8(folder);
    }
    std::wstring root = options.m_strTempRoot;
    options.ScheduleTempCleanup();
    EXPECT_FALSE(test::DirExists(root));
    test::RemoveTree(temp);
}

TEST(Extraction, TemporaryFolderOnlyAdministratorsAndSystemMayChange)
{
    // Wine keeps no access lists on this file system (it maps them to Unix modes), so the
    // descriptor the folder is created with is examined itself.
    std::wstring temp = test::MakeTempDir(L"acl");
    std::wstring folder = temp + L"\\protected";
    ASSERT_TRUE(CreateProtectedFolder(folder.c_str()));
    EXPECT_FALSE(CreateProtectedFolder(folder.c_str())) << "an existing folder is not taken";

    PSECURITY_DESCRIPTOR descriptor = CreateProtectedFolderDescriptor();
    ASSERT_NE(nullptr, descriptor);
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing is inherited from the temporary folder";
    ASSERT_NE(nullptr, dacl);
    ASSERT_EQ(3, dacl->AceCount);

    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE userBuffer[256];
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, userBuffer, sizeof(userBuffer), &size);
    CloseHandle(token);
    PSID user = ((TOKEN_USER *)userBuffer)->User.Sid;
    PSID admins = nullptr, system = nullptr;
    ConvertStringSidToSidW(L"BA", &admins);
    ConvertStringSidToSidW(L"SY", &system);

    bool adminsFull = false, systemFull = false, userReadOnly = false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE *ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, (void **)&ace));
        ASSERT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
        EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
        PSID sid = &ace->SidStart;
        if (EqualSid(sid, admins))
            adminsFull = ace->Mask == FILE_ALL_ACCESS;
        else if (EqualSid(sid, system))
            systemFull = ace->Mask == FILE_ALL_ACCESS;
        else if (EqualSid(sid, user))
            userReadOnly = ace->Mask == (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE);
    }
    EXPECT_TRUE(adminsFull);
    EXPECT_TRUE(systemFull);
    EXPECT_TRUE(userReadOnly) << "the user may read and run, not write";
    LocalFree(admins);
    LocalFree(system);
    LocalFree(descriptor);
    test::RemoveTree(temp);
}

TEST(ExecCommandLine, WaitsAsAsked)
{
    BrowserCopy browser;
    std::wstring quoted = L"\"" + browser.path + L"\"";

    std::wstring line = quoted + L" /sleep:1500";
    DWORD start = GetTickCount();
    EXPECT_TRUE(ExecCommandLine(&line[0], SW_HIDE, 0));
    EXPECT_LT(GetTickCount() - start, 1000u) << "wait 0 returns once the process exists";

    line = quoted + L" /sleep:3000";
    EXPECT_FALSE(ExecCommandLine(&line[0], SW_HIDE, 300)) << "the process outlives the wait";

    line = quoted + L" /sleep:200";
    EXPECT_TRUE(ExecCommandLine(&line[0], SW_HIDE, INFINITE));
    line = quoted + L" /sleep:200";
    EXPECT_TRUE(ExecCommandLine(&line[0], SW_HIDE, 10000));

    line = L"\"C:\\no such folder\\nothing.exe\" /x";
    EXPECT_FALSE(ExecCommandLine(&line[0], SW_HIDE, INFINITE));
}

TEST(ExecCommandLine, StartedProgramsInheritNoHandle)
{
    std::wstring folder = test::MakeTempDir(L"inherit");
    std::wstring file = folder + L"\\held.txt";
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE held = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    BrowserCopy browser;
    std::wstring line = L"\"" + browser.path + L"\" /sleep:3000";
    ASSERT_TRUE(ExecCommandLine(&line[0], SW_HIDE, 0));
    Sleep(300);
    CloseHandle(held);
    // Were the handle inherited, the child would still hold the file open.
    HANDLE exclusive = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, exclusive);
    if (exclusive != INVALID_HANDLE_VALUE)
        CloseHandle(exclusive);
    test::RemoveTree(folder);
}

TEST(LaunchBrowser, StartsTheBrowserThenEndsTheSetup)
{
    std::wstring install = test::MakeTempDir(L"launch here");
    CopyFileW(StandInBrowser().c_str(), (install + L"\\Velmarin.exe").c_str(), FALSE);
    test::MessageRecorder recorder;
    CInstallOptions options;
    wcscpy(options.m_strInstallDir, install.c_str());
    options.m_hProgressWnd = recorder.Window();

    options.LaunchBrowser(false);
    EXPECT_EQ(std::vector<int>{-1}, recorder.WaitForEnd(2000));
    Sleep(300);
    EXPECT_FALSE(test::FileExists(install + L"\\velmarin-starts.log")) << "nothing started";

    test::MessageRecorder second;
    options.m_hProgressWnd = second.Window();
    options.LaunchBrowser(true);
    EXPECT_EQ(std::vector<int>{-1}, second.WaitForEnd(2000));
    std::vector<std::string> starts;
    for (int i = 0; i < 100 && starts.empty(); ++i) {
        Sleep(50);
        starts = test::ReadLines(install + L"\\velmarin-starts.log");
    }
    ASSERT_EQ(1u, starts.size());
    EXPECT_EQ("\"" + test::Utf8(install) + "\\velmarin.exe\"", starts[0]);
    test::EndProcessesIn(install);
    test::RemoveTree(install);
}

// A junction planted in the temporary tree is removed itself (or, where the system will not
// remove it now, at restart); the clean-up never deletes what it points at.
TEST(TempCleanup, NeverFollowsALink)
{
    std::wstring temp = test::MakeTempDir(L"cleanup link");
    std::wstring victim = temp + L"\\victim";
    CreateDirectoryW(victim.c_str(), nullptr);
    test::WriteFile(victim + L"\\precious.txt", "keep");
    std::wstring root = temp + L"\\123", link = root + L"\\Velmarin 3\\Skin";
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW((root + L"\\Velmarin 3").c_str(), nullptr);
    test::WriteFile(root + L"\\velmarin3zip.exe", "payload");
    ASSERT_TRUE(test::MakeSymbolicLink(link, victim));
    CInstallOptions options;
    wcscpy(options.m_strTempRoot, root.c_str());
    options.ScheduleTempCleanup();
    EXPECT_EQ("keep", test::ReadFile(victim + L"\\precious.txt"));
    EXPECT_FALSE(test::FileExists(root + L"\\velmarin3zip.exe"));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                       L"PendingFileRenameOperations");
    test::RemoveTree(temp);
}

TEST(TempCleanup, RemovesTheTreeAndSchedulesWhatIsInUse)
{
    std::wstring temp = test::MakeTempDir(L"cleanup");
    std::wstring root = temp + L"\\123";
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW((root + L"\\Velmarin 3").c_str(), nullptr);
    CreateDirectoryW((root + L"\\Velmarin 3\\Skin").c_str(), nullptr);
    test::WriteFile(root + L"\\velmarin3zip.exe", "payload");
    test::WriteFile(root + L"\\Velmarin 3\\Skin\\a.png", "png");
    CInstallOptions options;
    wcscpy(options.m_strTempRoot, root.c_str());
    options.ScheduleTempCleanup();
    EXPECT_FALSE(test::DirExists(root));

    // A file held open cannot go now: it and its folders are left for the restart.
    CreateDirectoryW(root.c_str(), nullptr);
    wcscpy(options.m_strTempRoot, root.c_str());
    std::wstring busy = root + L"\\busy.dll";
    test::WriteFile(busy, "x");
    HANDLE held = CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    options.ScheduleTempCleanup();
    CloseHandle(held);
    if (test::DirExists(root)) {
        HKEY key = nullptr;
        std::wstring pending;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ, &key) ==
            ERROR_SUCCESS) {
            wchar_t data[8192] = {};
            DWORD size = sizeof(data) - 4, type = 0;
            if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, (BYTE *)data, &size) == ERROR_SUCCESS)
                for (const wchar_t *p = data; *p; p += wcslen(p) + 1)
                    pending += std::wstring(p) + L"|";
            RegCloseKey(key);
        }
        EXPECT_NE(std::wstring::npos, pending.find(L"busy.dll")) << "the file is scheduled";
        EXPECT_LT(pending.find(L"busy.dll"), pending.rfind(L"\\123|")) << "before its folder";
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                           L"PendingFileRenameOperations");
    }

    // The browser's runs are told the root for their temporary files: while one may still run
    // (here in a folder of its own), the root stays for the restart, and stays at any later
    // clean-up, after it has ended too; a run that could not join the job (a handle that may
    // only ask) leaves it too. Once they have all ended it goes, and a folder made afterwards
    // under its name is not the setup's to touch.
    BrowserCopy browser;
    wcscpy(options.m_strInstallDir, browser.folder.c_str());
    for (const char *run : {"running", "ended", "outside the job"}) {
        bool running = strcmp(run, "running") == 0, outside = strcmp(run, "outside the job") == 0;
        CreateDirectoryW(root.c_str(), nullptr);
        wcscpy(options.m_strTempRoot, root.c_str());
        HANDLE job = CreateJobObjectW(nullptr, nullptr), process = nullptr;
        DuplicateHandle(GetCurrentProcess(), job, GetCurrentProcess(), &options.m_hBrowserRuns,
                        outside ? JOB_OBJECT_QUERY : JOB_OBJECT_ALL_ACCESS, FALSE, 0);
        options.m_bTempRootLeftForRestart = false;
        std::wstring line = L"\"" + browser.path + L"\" /stay";
        if (outside) {
            options.RunBrowserSetup();
            EXPECT_TRUE(options.m_bTempRootLeftForRestart) << "the run could not join";
        }
        else
            process = StartCommandLineWithTemporaryFolder(&line[0], SW_HIDE, browser.folder.c_str(), job);
        if (!running && process && TerminateProcess(process, 0))
            WaitForSingleObject(process, 10000);
        options.ScheduleTempCleanup();
        if (process && TerminateProcess(process, 0))
            WaitForSingleObject(process, 10000);
        if (strcmp(run, "ended") == 0) {
            EXPECT_FALSE(test::DirExists(root));
            CreateDirectoryW(root.c_str(), nullptr);
            test::WriteFile(root + L"\\someone else's", "x");
        }
        options.ScheduleTempCleanup();
        EXPECT_TRUE(test::DirExists(root)) << run;
        EXPECT_EQ(strcmp(run, "ended") == 0, test::FileExists(root + L"\\someone else's")) << run;
        if (process)
            CloseHandle(process);
        CloseHandle(job);
        test::RemoveTree(root);
    }
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                       L"PendingFileRenameOperations");
    test::RemoveTree(temp);
}

}
