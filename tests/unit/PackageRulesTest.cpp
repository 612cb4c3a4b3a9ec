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
    PackageMark keptChoices = {true, L"{0D3C7A52-1F6E-5B84-9A2D-7E4C1B0F6A39}", 0, 1};
    struct Case {
        PackageProperties properties;
        const wchar_t *log;
        const char *folder;  // as the setup reads it
    } cases[] = {
        {{L"C:\\部署 测试\\岚舟 浏览器", L"0", L"1", L"0", L"1"}, L"C:\\Windows\\Temp\\a b.log", "C:\\部署 测试\\岚舟 浏览器"},
        {{L"D:\\x /DesktopShortcut=1", L"0", L"0", L"0", L"0"}, L"C:\\log.txt", "D:\\x /DesktopShortcut=1"},
        {{kSetupChoosesFolder, L"1", L"0", L"1", L"0"}, L"C:\\日志\\setup.log", ""},
        {MaintenanceProperties(L"C:\\Program Files\\Velmarin 3", keptChoices), L"C:\\a.log", "C:\\Program Files\\Velmarin 3"},
        {{kSetupChoosesFolder, L"1", L"1", L"0", L"0"}, nullptr, ""},
    };
    for (const Case &c : cases) {
        wchar_t arguments[2048], line[2048] = L"";
        ASSERT_TRUE(SetupArguments(c.properties, arguments, ARRAYSIZE(arguments)));
        ASSERT_TRUE(!c.log || WithLogOption(c.log, arguments, line, ARRAYSIZE(line)));
        Arguments read;
        ReadArguments(c.log ? line : arguments, kSetupArguments, read);
        EXPECT_TRUE(ArgumentsAcceptable(read)) << test::Utf8(line);
        EXPECT_TRUE(read.silent);
        EXPECT_EQ(0, read.userParts) << "the machine's account has no parts of its own";
        EXPECT_EQ(0, read.downgrade) << "no older browser over a newer one";
        EXPECT_EQ(c.properties.desktopShortcut[0] - L'0', read.desktopShortcut);
        EXPECT_EQ(c.properties.quickLaunchShortcut[0] - L'0', read.quickLaunchShortcut);
        EXPECT_EQ(c.properties.defaultBrowser[0] - L'0', read.defaultBrowser);
        EXPECT_EQ(c.properties.closeBrowser[0] - L'0', read.closeBrowser);
        EXPECT_EQ(c.folder, test::Utf8(read.folder));
        EXPECT_EQ(test::Utf8(c.log ? c.log : L""), test::Utf8(read.log));
    }
    wchar_t arguments[256], line[512];
    ASSERT_TRUE(UninstallerArguments(arguments, ARRAYSIZE(arguments)));
    ASSERT_TRUE(WithLogOption(L"C:\\Windows\\Temp\\a b.log", arguments, line, ARRAYSIZE(line)));
    Arguments read;
    ReadArguments(line, kUninstallerArguments, read);
    EXPECT_TRUE(ArgumentsAcceptable(read) && read.silent && read.removeData == 0) << test::Utf8(line);
    EXPECT_EQ("C:\\Windows\\Temp\\a b.log", test::Utf8(read.log));
}

// A repair takes its folder from the record and its shortcuts from the package's mark, never a
// default browser or a browser ended; the mark travels as one line of CustomActionData.
TEST(PackageRules, RepairsTakeTheRecordAndTheMarkOnly)
{
    struct Case {
        const wchar_t *mark;       // as CustomActionData, "" when not read
        const wchar_t *recorded;   // the record's folder
        const char *properties;    // folder desktop quick-launch default close
    } cases[] = {
        {L"{0D3C7A52-1F6E-5B84-9A2D-7E4C1B0F6A39} 0 1", L"D:\\岚舟", "D:\\岚舟 0 1 0 0"},
        {L"{0D3C7A52-1F6E-5B84-9A2D-7E4C1B0F6A39} 1 0", nullptr, "? 1 0 0 0"},
        // Marks of packages that kept no choices, and no mark: the package's defaults.
        {L"* -1 -1", L"C:\\a", "C:\\a 1 1 0 0"},
        {L"-", L"", "? 1 1 0 0"},
    };
    for (const Case &c : cases) {
        PackageMark mark;
        ASSERT_TRUE(ReadPackageMark(c.mark, mark)) << test::Utf8(c.mark);
        wchar_t again[64];
        ASSERT_TRUE(FormatPackageMark(mark, again, ARRAYSIZE(again)));
        EXPECT_EQ(test::Utf8(c.mark), test::Utf8(again));
        PackageProperties p = MaintenanceProperties(c.recorded, mark);
        std::wstring read = std::wstring(p.installDir) + L" " + p.desktopShortcut + L" " + p.quickLaunchShortcut + L" " +
                            p.defaultBrowser + L" " + p.closeBrowser;
        EXPECT_EQ(c.properties, test::Utf8(read));
    }
    for (const wchar_t *bad : {L"", L"{0d3c7a52-1f6e-5b84-9a2d-7e4c1b0f6a39} 0 1", L"{0D3C7A52-1F6E-5B84-9A2D-7E4C1B0F6A39} 0",
                               L"{0D3C7A52-1F6E-5B84-9A2D-7E4C1B0F6A39} 0 1 1", L"{0D3C7A52-1F6E-5B84-9A2D-7E4C1B0F6A39}  0 1",
                               L"* 2 0", L"0D3C7A52-1F6E-5B84-9A2D-7E4C1B0F6A39 0 1"}) {
        PackageMark mark;
        EXPECT_FALSE(ReadPackageMark(bad, mark)) << test::Utf8(bad);
        EXPECT_FALSE(mark.owned);
    }
}

TEST(PackageRules, TheProgramsLogGoesBesideAPackageLogOnALocalDrive)
{
    struct Case {
        const wchar_t *packageLog;
        const wchar_t *folder;  // null: a protected folder of the machine's Temp instead
    } cases[] = {
        {L"C:\\Windows\\Temp\\velmarin-msi.log", L"C:\\Windows\\Temp\\"},
        {L"D:\\日志 目录\\安装.log", L"D:\\日志 目录\\"},
        {L"", nullptr},
        {L"install.log", nullptr},
        {L"logs\\install.log", nullptr},
        {L"\\\\server\\share\\install.log", nullptr},
        {L"C:install.log", nullptr},
        {L"C:\\a\nb\\install.log", nullptr},
    };
    for (const Case &c : cases) {
        wchar_t folder[MAX_PATH] = L"";
        bool beside = FolderOfPackageLog(c.packageLog, folder, ARRAYSIZE(folder));
        EXPECT_EQ(c.folder != nullptr, beside) << test::Utf8(c.packageLog);
        if (c.folder && beside) {
            EXPECT_EQ(test::Utf8(c.folder), test::Utf8(folder));
        }
    }
}

// winget joins the installer manifest's switches in its own order, the folder last; the setup's
// own reading takes them as meant, with blanks in both paths.
TEST(PackageRules, TheWingetSwitchesAreTheSetups)
{
    std::string manifest = test::ReadFile(test::BuildDir() + L"\\winget\\QingshiStudio.Velmarin.installer.yaml");
    auto switchOf = [&](const std::string &name) {
        size_t at = manifest.find("\n    " + name + ": ");
        EXPECT_NE(std::string::npos, at) << name;
        std::string value = at == std::string::npos ? "" : manifest.substr(at + name.size() + 7);
        value = value.substr(0, value.find('\n'));
        if (value.size() > 1 && value.front() == '\'' && value.back() == '\'')
            value = value.substr(1, value.size() - 2);
        return value;
    };
    std::string line = switchOf("Silent") + " " + switchOf("Log") + " " + switchOf("InstallLocation");
    ASSERT_TRUE(line.find("<LOGPATH>") != std::string::npos && line.find("<INSTALLPATH>") != std::string::npos) << line;
    line.replace(line.find("<LOGPATH>"), 9, "C:\\Users\\A B\\AppData\\Local\\Temp\\WinGet\\a.log");
    line.replace(line.find("<INSTALLPATH>"), 13, "D:\\Programs\\Velmarin 3");
    std::wstring words(line.begin(), line.end());
    Arguments read;
    ReadArguments(words.c_str(), kSetupArguments, read);
    EXPECT_TRUE(ArgumentsAcceptable(read) && read.silent) << line;
    EXPECT_EQ("C:\\Users\\A B\\AppData\\Local\\Temp\\WinGet\\a.log", test::Utf8(read.log));
    EXPECT_EQ("D:\\Programs\\Velmarin 3", test::Utf8(read.folder));
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
    EXPECT_EQ("0>0 3010>0+restart 1618>1603 32>1603 1610>0 1920>1603 3221225477>1603 ",
              read(MapSetupExit, {0, 3010, 1618, 32, 1610, 1920, 0xC0000005}));
    EXPECT_EQ("0>0 1920>1603 3010>1603 1605>1603 5>1603 ", read(MapUninstallerExit, {0, 1920, 3010, 1605, 5}));
}

}
