#include <gtest/gtest.h>
#include "app/Arguments.h"
#include "deploy/PackageRules.h"
#include "support/TestSupport.h"
#include <string>

namespace {

TEST(PackageRules, PropertiesAreCheckedBeforeTheSetupRuns)
{
    struct Case {
        PackageProperties properties;
        const char *refusal;  // what the reason names, "" when accepted
    } cases[] = {
        {{kSetupChoosesFolder, L"1", L"1", L"0", L"0"}, ""},
        {{L"C:\\部署 测试\\岚舟 浏览器", L"0", L"0", L"1", L"1"}, ""},
        {{kSetupChoosesFolder, L"maybe", L"1", L"0", L"0"}, "DESKTOP_SHORTCUT=\"maybe\" is refused"},
        {{kSetupChoosesFolder, L"1", L"01", L"0", L"0"}, "QUICKLAUNCH_SHORTCUT=\"01\""},
        {{kSetupChoosesFolder, L"1", L"1", L"1 ", L"0"}, "DEFAULT_BROWSER="},
        {{kSetupChoosesFolder, L"1", L"1", L"0", L""}, "CLOSE_BROWSER=\"\""},
        {{L"", L"1", L"1", L"0", L"0"}, "INSTALLDIR is refused: it is empty"},
        {{nullptr, L"1", L"1", L"0", L"0"}, "INSTALLDIR is refused: it is empty"},
        // What would end the setup's command line or smuggle in an option of its own.
        {{L"C:\\a\" /DefaultBrowser=1", L"1", L"1", L"0", L"0"}, "quote or a control character"},
        {{L"C:\\a\r\n/S", L"1", L"1", L"0", L"0"}, "quote or a control character"},
        {{L"C:\\a\tb", L"1", L"1", L"0", L"0"}, "quote or a control character"},
    };
    for (const Case &c : cases) {
        wchar_t reason[512] = L"";
        bool accepted = CheckPackageProperties(c.properties, reason, ARRAYSIZE(reason));
        std::string said = test::Utf8(reason);
        if (!*c.refusal)
            EXPECT_TRUE(accepted) << said;
        else
            EXPECT_TRUE(!accepted && said.find(c.refusal) != std::string::npos) << c.refusal << " / " << said;
    }
}

// The command lines the package builds, read back by the setup's and the uninstaller's own reading.
TEST(PackageRules, TheProgramsReadTheCommandLinesAsMeant)
{
    struct Case {
        PackageProperties properties;
        const wchar_t *log;
        const char *folder;  // as the setup reads it
    } cases[] = {
        {{L"C:\\部署 测试\\岚舟 浏览器", L"0", L"1", L"0", L"1"}, L"C:\\Windows\\Temp\\a b.log", "C:\\部署 测试\\岚舟 浏览器"},
        {{L"D:\\x /DesktopShortcut=1", L"0", L"0", L"0", L"0"}, L"C:\\log.txt", "D:\\x /DesktopShortcut=1"},
        {{kSetupChoosesFolder, L"1", L"0", L"1", L"0"}, L"C:\\日志\\setup.log", ""},
    };
    for (const Case &c : cases) {
        wchar_t line[2048];
        ASSERT_TRUE(SetupArguments(c.properties, c.log, line, ARRAYSIZE(line)));
        Arguments read;
        ReadArguments(line, kSetupArguments, read);
        EXPECT_TRUE(ArgumentsAcceptable(read)) << test::Utf8(line);
        EXPECT_TRUE(read.silent);
        EXPECT_EQ(c.properties.desktopShortcut[0] - L'0', read.desktopShortcut);
        EXPECT_EQ(c.properties.quickLaunchShortcut[0] - L'0', read.quickLaunchShortcut);
        EXPECT_EQ(c.properties.defaultBrowser[0] - L'0', read.defaultBrowser);
        EXPECT_EQ(c.properties.closeBrowser[0] - L'0', read.closeBrowser);
        EXPECT_EQ(c.folder, test::Utf8(read.folder));
        EXPECT_EQ(test::Utf8(c.log), test::Utf8(read.log));
    }
    wchar_t line[512];
    ASSERT_TRUE(UninstallerArguments(L"C:\\Windows\\Temp\\a b.log", line, ARRAYSIZE(line)));
    Arguments read;
    ReadArguments(line, kUninstallerArguments, read);
    EXPECT_TRUE(ArgumentsAcceptable(read) && read.silent && read.removeData == 0) << test::Utf8(line);
    EXPECT_EQ("C:\\Windows\\Temp\\a b.log", test::Utf8(read.log));
}

TEST(PackageRules, TheProgramsLogGoesBesideAPackageLogOnALocalDrive)
{
    struct Case {
        const wchar_t *packageLog;
        const wchar_t *log;  // null: the machine's Temp instead
    } cases[] = {
        {L"C:\\Windows\\Temp\\velmarin-msi.log", L"C:\\Windows\\Temp\\VelmarinSetup-msi.log"},
        {L"D:\\日志 目录\\安装.log", L"D:\\日志 目录\\VelmarinSetup-msi.log"},
        {L"", nullptr},
        {L"install.log", nullptr},
        {L"logs\\install.log", nullptr},
        {L"\\\\server\\share\\install.log", nullptr},
        {L"C:install.log", nullptr},
        {L"C:\\a\nb\\install.log", nullptr},
    };
    for (const Case &c : cases) {
        wchar_t log[MAX_PATH] = L"";
        bool beside = LogBesidePackageLog(c.packageLog, log, ARRAYSIZE(log));
        EXPECT_EQ(c.log != nullptr, beside) << test::Utf8(c.packageLog);
        if (c.log && beside) {
            EXPECT_EQ(test::Utf8(c.log), test::Utf8(log));
        }
    }
}

TEST(PackageRules, ExitCodesBecomeWhatWindowsInstallerKnows)
{
    auto read = [](ActionResult (*map)(DWORD), std::initializer_list<DWORD> codes) {
        std::string mapped;
        for (DWORD code : codes) {
            ActionResult result = map(code);
            mapped += std::to_string(code) + ">" + std::to_string(result.installerCode) + (result.restartNeeded ? "+restart " : " ");
        }
        return mapped;
    };
    EXPECT_EQ("0>0 3010>0+restart 1618>1603 32>1603 1610>1603 1920>1603 3221225477>1603 ",
              read(MapSetupExit, {0, 3010, 1618, 32, 1610, 1920, 0xC0000005}));
    EXPECT_EQ("0>0 1920>0+restart 3010>1603 1605>1603 5>1603 ", read(MapUninstallerExit, {0, 1920, 3010, 1605, 5}));
}

}
