// The setup run by a deployment tool: /S and its options, with the exit code each outcome gets
// and the log of the run, watched from outside for any window.
#include <gtest/gtest.h>
#include "e2e/SetupProcess.h"
#include "e2e/WizardDriver.h"
#include "engine/Product.h"
#include "support/TestSupport.h"
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

    // The browser runs from the folder: left alone by default, ended when asked.
    HANDLE browser = test::StartProcess(L"\"" + m_folder + L"\\Velmarin.exe\" /stay");
    Sleep(500);
    EXPECT_EQ(32u, Setup(L"/S \"/Log=" + log + L"\""));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(browser, 0)) << "still running";
    EXPECT_NE(std::string::npos, test::ReadFile(log).find("退出代码 32：岚舟浏览器正在运行"));
    EXPECT_EQ(0u, Setup(L"/S /CloseBrowser=1"));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(browser, 5000)) << "ended";
    CloseHandle(browser);
    EXPECT_EQ("", watch.Seen()) << "nothing showed";
}

}
