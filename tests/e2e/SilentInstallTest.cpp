// The setup run by a deployment tool: /S and its options, with the exit code each outcome gets
// and the log of the run, watched from outside for any window.
#include <gtest/gtest.h>
#include "e2e/SetupProcess.h"
#include "e2e/WizardDriver.h"
#include "engine/Product.h"
#include "support/TestSupport.h"
#include <sddl.h>
#include <shlobj.h>

namespace {

class SilentInstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = L"C:\\部署 测试\\Velmarin";
        test::RemoveInstallation(m_folder);
        test::RemoveInstallation(test::DefaultInstallFolder());
        m_logs = test::MakeTempDir(L"logs");
        // As on Windows XP and 7, where the quick-launch shortcut goes.
        SHCreateDirectoryExW(nullptr, (test::SpecialFolder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch").c_str(),
                             nullptr);
    }
    void TearDown() override
    {
        test::RemoveInstallation(m_folder);
        RemoveDirectoryW(L"C:\\部署 测试");
        test::RemoveTree(m_logs);
    }

    DWORD Setup(const std::wstring &options) { return test::RunToEnd(L"\"" + test::SetupExe() + L"\" " + options); }
    // Runs the setup with a pipe as its standard error, as a deployment tool reads it.
    DWORD SetupTelling(const std::wstring &options, std::string &console)
    {
        SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
        HANDLE reading = nullptr, writing = nullptr;
        if (!CreatePipe(&reading, &writing, &inherited, 1 << 16))
            return STILL_ACTIVE;
        SetHandleInformation(reading, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdError = writing;
        std::wstring line = L"\"" + test::SetupExe() + L"\" " + options;
        PROCESS_INFORMATION process = {};
        bool started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
        CloseHandle(writing);
        DWORD code = STILL_ACTIVE;
        if (started) {
            test::ExpectThirtyTwoBitOnWin64(process.hProcess);
            if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0)
                TerminateProcess(process.hProcess, STILL_ACTIVE);
            GetExitCodeProcess(process.hProcess, &code);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        console.clear();
        char buffer[4096];
        DWORD waiting = 0, read = 0;
        while (PeekNamedPipe(reading, nullptr, 0, nullptr, &waiting, nullptr) && waiting &&
               ReadFile(reading, buffer, sizeof(buffer), &read, nullptr) && read)
            console.append(buffer, read);
        CloseHandle(reading);
        return code;
    }
    static bool Installed() { return test::RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey); }

    std::wstring m_folder, m_logs;
};

TEST_F(SilentInstall, IntoAFolderWithALogAndEveryRefusalWithItsCode)
{
    test::WindowWatch watch({L"VelmarinSetup.exe"});
    // Another setup holds the single-instance mutex: a silent run gives way at once.
    HANDLE mutex = CreateMutexW(nullptr, TRUE, test::kSetupTitle);
    EXPECT_EQ(1618u, Setup(L"/S"));
    CloseHandle(mutex);
    // An unknown option, a malformed value, a folder the custom page refuses: nothing changes.
    EXPECT_EQ(87u, Setup(L"/S /quiet"));
    EXPECT_EQ(87u, Setup(L"/S /DesktopShortcut=yes"));
    EXPECT_EQ(267u, Setup(L"/S /D=\\\\server\\share\\Velmarin"));
    EXPECT_EQ(267u, Setup(L"/S /D=C:\\部署 测试\\CON"));
    // Drive Y: of the prefix is a network drive, as a mapped share is.
    ASSERT_EQ((UINT)DRIVE_REMOTE, GetDriveTypeW(L"Y:\\")) << "tools/env.sh maps Y: as a network drive";
    EXPECT_EQ(267u, Setup(L"/S /D=Y:\\Velmarin"));
    EXPECT_FALSE(test::DirExists(L"Y:\\Velmarin"));
    EXPECT_FALSE(Installed());
    EXPECT_FALSE(test::DirExists(L"C:\\部署 测试"));

    std::wstring log = m_logs + L"\\log.txt";
    EXPECT_EQ(0u, Setup(L"/S /DesktopShortcut=0 \"/Log=" + log + L"\" /D=" + m_folder));
    for (const std::wstring &file : test::PayloadFileTable())
        EXPECT_TRUE(test::FileExists(m_folder + file)) << test::Utf8(file);
    EXPECT_EQ(m_folder + L"\\Velmarin.exe", test::ReadRegString(HKEY_LOCAL_MACHINE, kAppPathKey, L""));
    EXPECT_FALSE(test::FileExists(test::SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\岚舟 3.lnk"));
    EXPECT_TRUE(test::FileExists(test::SpecialFolder(CSIDL_APPDATA) +
                                 L"\\Microsoft\\Internet Explorer\\Quick Launch\\岚舟 3.lnk"));
    EXPECT_EQ(3u, test::BrowserStarts(m_folder).size()) << "the install's own runs, and no launch";
    std::string text = test::ReadFile(log);
    for (const char *step : {"/S /DesktopShortcut=0", "检测到：未安装", "安装目录：C:\\部署 测试\\Velmarin", "与清单一致",
                             "已复制", "已在系统中注册", "桌面：否", "已写入安装记录", "已设为默认浏览器", "安装完成"})
        EXPECT_NE(std::string::npos, text.find(step)) << step << "\n" << text;
    std::string last = text.substr(text.rfind('\n', text.size() - 2) + 1);
    EXPECT_NE(std::string::npos, last.find("退出代码 0：完成")) << last;

    // An update ended (killed, or the power cut) right after the installed browser got its
    // set-aside name, a second name of the same file, with an earlier update's set-aside file
    // still there: the next run finishes the update and installs.
    std::wstring newer = test::MakeTempDir(L"newer files");
    test::WriteFile(newer + L"\\Velmarin.exe", "a newer browser");
    test::WriteFile(newer + L"\\WebApp.exe", "a newer web app");
    EXPECT_EQ(9u, test::RunToEnd(L"\"" + test::BuildDir() + L"\\tests\\update_runner.exe\" \"" + newer + L"\" \"" +
                                 m_folder + L"\" 0 l1"));
    test::WriteFile(m_folder + L"\\Velmarin.exe.vmold", "an earlier update's");
    EXPECT_EQ(0u, Setup(L"/S /DesktopShortcut=0 /D=" + m_folder));
    for (const std::wstring &file : test::PayloadFileTable())
        EXPECT_EQ(test::ReadFile(test::StandInFiles() + file), test::ReadFile(m_folder + file)) << test::Utf8(file);
    test::ExpectNoUpdateLeftovers(m_folder);
    test::RemoveTree(newer);

    // The browser runs from the folder: left alone by default, ended when asked.
    HANDLE browser = test::StartProcess(L"\"" + m_folder + L"\\Velmarin.exe\" /stay");
    Sleep(500);
    EXPECT_EQ(32u, Setup(L"/S \"/Log=" + log + L"\""));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(browser, 0)) << "still running";
    EXPECT_NE(std::string::npos, test::ReadFile(log).find("退出代码 32：岚舟浏览器正在运行"));
    EXPECT_EQ(0u, Setup(L"/S /CloseBrowser=1"));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(browser, 5000)) << "ended";
    CloseHandle(browser);

    // Any user may read the browser's file and keep it open: no browser runs, so that stops no
    // run. Held with deletion shared the file is replaced; held without, the update goes back.
    std::wstring browserFile = m_folder + L"\\Velmarin.exe";
    for (DWORD sharing : {(DWORD)(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE), (DWORD)FILE_SHARE_READ}) {
        HANDLE reader = CreateFileW(browserFile.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, reader);
        EXPECT_EQ(sharing & FILE_SHARE_DELETE ? 0u : 1603u, Setup(L"/S \"/Log=" + log + L"\""));
        CloseHandle(reader);
        EXPECT_NE(std::string::npos, test::ReadFile(log).find("但岚舟浏览器没有运行"));
        if (!(sharing & FILE_SHARE_DELETE)) {
            EXPECT_NE(std::string::npos, test::ReadFile(log).find("(error 32:")) << "a file in use, as it was";
        }
        EXPECT_EQ(test::ReadFile(test::StandInFiles() + L"\\Velmarin.exe"), test::ReadFile(browserFile));
    }
    test::ExpectNoUpdateLeftovers(m_folder);
    EXPECT_EQ("", watch.Seen()) << "nothing showed";
}

// A damaged download: the payload program's stream damaged in one block installs nothing and
// ends as a damaged setup does.
// The set in several blocks, unpacked on one core and on every core, installs the same files; a
// byte changed in the middle of the stream, or in the last block's check (where every file's
// bytes come out right before the program finds the damage), installs nothing. A program that
// writes every file whole installs when it ends with 0, and nothing when it does not (it may have
// cut files the setup's check had found whole already).
TEST_F(SilentInstall, APayloadInstallsAlikeOnOneCoreOrAllAndDamagedNotAtAll)
{
    std::wstring copy = test::MakeTempDir(L"damaged setup");
    const std::string stream = test::BlocksPayloadStream();
    // A footer of 12 bytes ends the stream; before it the index, just before which the last
    // block's check ends. The footer holds the index's size (in units of 4 bytes, less one) at 4.
    const size_t footer = stream.size() - 12;
    size_t indexSize = 0;
    for (int i = 3; i >= 0; --i)
        indexSize = indexSize << 8 | (unsigned char)stream[footer + 4 + i];
    const size_t index = footer - 4 * (indexSize + 1);
    DWORD_PTR own = 0, all = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &own, &all));
    const size_t intact = std::string::npos;
    struct Case {
        size_t damaged;
        DWORD_PTR cores;
        DWORD code;
        const char *copyingProgramEnds;  // a program that copies the set, ending with this code
    } cases[] = {{intact, 1, 0, nullptr},
                 {intact, all, 0, nullptr},
                 {stream.size() / 2, all, 1620, nullptr},
                 {index - 1, all, 1620, nullptr},
                 {intact, all, 0, "0"},
                 {intact, all, 1620, "5"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.damaged << " " << c.cores << " " << (c.copyingProgramEnds ? c.copyingProgramEnds : "-"));
        std::string packed = stream;
        if (c.damaged != intact)
            packed[c.damaged] ^= 0x20;
        std::string program = c.copyingProgramEnds
                                  ? test::ReadFile(test::BuildDir() + L"\\tests\\payload_that_copies.exe")
                                  : test::ReadFile(test::PayloadProgramWithStream(copy, packed));
        SetEnvironmentVariableA("VELMARIN_TEST_PAYLOAD_EXIT", c.copyingProgramEnds);
        std::wstring setup = copy + L"\\VelmarinSetup.exe", log = m_logs + L"\\damaged.txt";
        ASSERT_TRUE(CopyFileW(test::SetupExe().c_str(), setup.c_str(), FALSE));
        HANDLE update = BeginUpdateResourceW(setup.c_str(), FALSE);
        ASSERT_TRUE(update && UpdateResourceW(update, L"BIN", MAKEINTRESOURCEW(228), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                              &program[0], (DWORD)program.size()) &&
                    EndUpdateResourceW(update, FALSE));
        // The setup, and the payload program it starts, run on the cores this process may use.
        ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), c.cores));
        DWORD code = test::RunToEnd(L"\"" + setup + L"\" /S \"/Log=" + log + L"\" /D=" + m_folder);
        SetProcessAffinityMask(GetCurrentProcess(), own);
        EXPECT_EQ(c.code, code);
        if (c.code == 0) {
            for (const std::wstring &file : test::PayloadFileTable())
                EXPECT_EQ(test::ReadFile(test::StandInFiles() + file), test::ReadFile(m_folder + file)) << test::Utf8(file);
        } else {
            EXPECT_NE(std::string::npos, test::ReadFile(log).find("安装程序已损坏")) << test::ReadFile(log);
            EXPECT_FALSE(Installed());
            EXPECT_FALSE(test::FileExists(m_folder + L"\\Velmarin.exe"));
        }
        test::RemoveInstallation(m_folder);
        DeleteFileW(log.c_str());
    }
    SetEnvironmentVariableA("VELMARIN_TEST_PAYLOAD_EXIT", nullptr);
    test::RemoveTree(copy);
}

TEST_F(SilentInstall, TheLogIsNoWayIntoAnotherFile)
{
    // Files the log must not write into, each named as the log of a run that would otherwise
    // end at once with 267: a user's script, a link to it, a folder that is a junction to
    // another, devices, a stream, a folder that does not exist.
    const std::wstring script = m_logs + L"\\startup.bat", elsewhere = test::MakeTempDir(L"elsewhere");
    const std::string scriptText = "@echo off\r\nrem the user's own script\r\n";
    test::WriteFile(script, scriptText);
    ASSERT_TRUE(test::MakeSymbolicLink(m_logs + L"\\junction", elsewhere));
    test::MakeSymbolicLink(m_logs + L"\\script.log", script);
    const std::wstring refusedFolder = L" /D=C:\\部署 测试\\CON";
    for (const std::wstring &log : {script, m_logs + L"\\script.log", m_logs + L"\\junction\\setup.log", std::wstring(L"NUL"),
                                    m_logs + L"\\com1.log", m_logs + L"\\setup.log:hidden",
                                    m_logs + L"\\missing\\setup.log"}) {
        std::string console;
        EXPECT_EQ(110u, SetupTelling(L"/S \"/Log=" + log + L"\"" + refusedFolder, console)) << test::Utf8(log);
        EXPECT_NE(std::string::npos, console.find("无法使用日志文件")) << test::Utf8(log) << ": " << console;
    }
    EXPECT_EQ(scriptText, test::ReadFile(script));
    EXPECT_TRUE(test::FolderContents(elsewhere).empty());
    // A log an earlier version began goes on.
    const std::wstring earlier = m_logs + L"\\earlier.log";
    test::WriteFile(earlier, "2026-11-30 10:00:00.000 岚舟浏览器 3.2 正式版 安装 3.2.0.6：setup /S\r\n");
    EXPECT_EQ(267u, Setup(L"/S \"/Log=" + earlier + L"\"" + refusedFolder));
    EXPECT_LT(1u, test::ReadLines(earlier).size());
    EXPECT_FALSE(test::FileExists(m_logs + L"\\setup.log"));

    // A command line that would start a line of the log's own: written out on one line.
    const std::wstring log = m_logs + L"\\setup.log";
    EXPECT_EQ(267u, Setup(L"/S \"/Log=" + log + L"\" /D=" + m_folder + L"\r\n2026-01-01 00:00:00.000 &calc"));
    std::vector<std::string> lines = test::ReadLines(log);
    ASSERT_LE(3u, lines.size());
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i].size() > 24 && lines[i].compare(0, 2, "20") == 0 && lines[i][23] == ' ') << lines[i];
    EXPECT_NE(std::string::npos, lines[1].find("Velmarin\\r\\n2026-01-01 00:00:00.000 &calc")) << lines[1];

    // The same log with a second name is refused, and stays as it was.
    const std::string logText = test::ReadFile(log);
    ASSERT_TRUE(CreateHardLinkW((m_logs + L"\\second.log").c_str(), log.c_str(), nullptr));
    std::string console;
    EXPECT_EQ(110u, SetupTelling(L"/S \"/Log=" + m_logs + L"\\second.log\"" + refusedFolder, console));
    EXPECT_EQ(logText, test::ReadFile(log));
    EXPECT_FALSE(Installed());
    DeleteFileW((m_logs + L"\\second.log").c_str());

    // Another user made the wizard's mutex first, in this session and in Global\: it stops
    // nothing, and the log goes on where it was.
    PSECURITY_DESCRIPTOR foreign = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:S-1-5-21-1-2-3-1001D:(A;;GA;;;WD)", SDDL_REVISION_1,
                                                                     &foreign, nullptr));
    SECURITY_ATTRIBUTES squatted = {sizeof(squatted), foreign, FALSE};
    HANDLE mutexes[] = {CreateMutexW(&squatted, TRUE, test::kSetupTitle),
                        CreateMutexW(&squatted, TRUE, (std::wstring(L"Global\\") + test::kSetupTitle).c_str())};
    EXPECT_EQ(0u, Setup(L"/S \"/Log=" + log + L"\" /D=" + m_folder));
    EXPECT_TRUE(Installed());
    EXPECT_EQ(0, test::ReadFile(log).compare(0, logText.size(), logText));
    for (HANDLE mutex : mutexes)
        CloseHandle(mutex);
    LocalFree(foreign);
    test::RemoveTree(elsewhere);
}

}
