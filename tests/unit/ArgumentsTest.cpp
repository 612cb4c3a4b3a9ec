#include <gtest/gtest.h>
#include "app/Arguments.h"
#include "base/SetupLog.h"
#include "support/TestSupport.h"
#include <sddl.h>
#include <string>

namespace {

// What a command line read as, in one line: "S ? d q b c r g folder|log|unknown malformed|problem"
// with each 0|1 option as 0, 1 or - when not given.
std::string Summary(const wchar_t *words, ArgumentsOf program = kSetupArguments)
{
    Arguments read;
    ReadArguments(words, program, read);
    auto choice = [](int value) { return value == kOptionUnset ? std::string("-") : std::to_string(value); };
    return std::string(read.silent ? "S" : "-") + (read.help ? "?" : "-") + " " + choice(read.desktopShortcut) +
           choice(read.quickLaunchShortcut) + choice(read.defaultBrowser) + choice(read.closeBrowser) +
           choice(read.removeData) + choice(read.downgrade) + " " + test::Utf8(read.folder) + "|" + test::Utf8(read.log) + "|" +
           (read.unknown ? "u" : "-") + (read.malformed ? "m" : "-") + "|" + test::Utf8(read.problem) +
           (ArgumentsAcceptable(read) ? "" : " refused");
}

TEST(Arguments, OptionsQuotingTheFolderRestRepeatsAndBadValues)
{
    struct Case {
        const wchar_t *words;
        const char *read;
    } cases[] = {
        {L"", "-- ------ ||--|"},
        {L"/S", "S- ------ ||--|"},
        {L"/s /desktopshortcut=0 /QUICKLAUNCHSHORTCUT=1 /DefaultBrowser=0 /CloseBrowser=1", "S- 0101-- ||--|"},
        {L"  /S\t/?  ", "S? ------ ||--|"},
        // The folder takes the rest of the line, spaces and what looks like options included.
        {L"/S /DesktopShortcut=0 /Log=C:\\log.txt /D=C:\\部署 测试\\Velmarin",
         "S- 0----- C:\\部署 测试\\Velmarin|C:\\log.txt|--|"},
        {L"/D=C:\\Program Files\\Velmarin /S", "-- ------ C:\\Program Files\\Velmarin /S||--|"},
        {L"/S /D=\"C:\\A B\\Velmarin\"  ", "S- ------ C:\\A B\\Velmarin||--|"},
        {L"/S \"/D=C:\\A B\\Velmarin\"", "S- ------ C:\\A B\\Velmarin||--|"},
        {L"\"/Log=C:\\my logs\\setup.log\" /S", "S- ------ |C:\\my logs\\setup.log|--|"},
        {L"/Log=\"C:\\my logs\\setup.log\"", "-- ------ |C:\\my logs\\setup.log|--|"},
        // Unknown words: ignored without /S, refused with it.
        {L"/quiet", "-- ------ ||u-|/quiet"},
        {L"/S /quiet", "S- ------ ||u-|/quiet refused"},
        {L"/S /RemoveData=1", "S- ------ ||u-|/RemoveData=1 refused"},
        // Malformed: refused with or without /S.
        {L"/S /S", "S- ------ ||-m|/S refused"},
        {L"/DesktopShortcut=1 /DesktopShortcut=1", "-- 1----- ||-m|/DesktopShortcut=1 refused"},
        {L"/DefaultBrowser=2", "-- ------ ||-m|/DefaultBrowser=2 refused"},
        {L"/S /Downgrade=0", "S- -----0 ||--|"},
        {L"/S /Downgrade=1 /Downgrade=0", "S- -----1 ||-m|/Downgrade=0 refused"},
        {L"/DefaultBrowser=", "-- ------ ||-m|/DefaultBrowser= refused"},
        {L"/DefaultBrowser=01", "-- ------ ||-m|/DefaultBrowser=01 refused"},
        {L"/S /Log=", "S- ------ ||-m|/Log= refused"},
        {L"/S /D=   ", "S- ------ ||-m|/D= refused"},
        {L"/S /D=\"\"", "S- ------ ||-m|/D= refused"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.read, Summary(c.words)) << test::Utf8(c.words);

    // The uninstaller's own options, and the setup's unknown to it.
    EXPECT_EQ("S- ----1- |C:\\u.log|--|", Summary(L"/S /RemoveData=1 /Log=C:\\u.log", kUninstallerArguments));
    EXPECT_EQ("S- ------ ||u-|/D=C:\\x refused", Summary(L"/S /D=C:\\x", kUninstallerArguments));

    // What the uninstaller hands its copy reads back as it was.
    Arguments read;
    ReadArguments(L"/RemoveData=1 /S \"/Log=C:\\my logs\\u.log\"", kUninstallerArguments, read);
    wchar_t formed[400];
    ASSERT_TRUE(FormUninstallerOptions(read, formed, 400));
    EXPECT_EQ("S- ----1- |C:\\my logs\\u.log|--|", Summary(formed, kUninstallerArguments));

    // Whether the running account's own parts are made now: the setup's, 0 or 1.
    ReadArguments(L"/S /UserParts=0", kSetupArguments, read);
    EXPECT_TRUE(ArgumentsAcceptable(read));
    EXPECT_EQ(0, read.userParts);
    ReadArguments(L"/S /UserParts=2", kSetupArguments, read);
    EXPECT_FALSE(ArgumentsAcceptable(read));
    ReadArguments(L"/S /UserParts=0", kUninstallerArguments, read);
    EXPECT_FALSE(ArgumentsAcceptable(read));

    // The program's name, quoted with spaces or not, is skipped.
    EXPECT_STREQ(L"/S /D=C:\\x", SkipProgramName(L"\"C:\\Program Files\\setup.exe\"  /S /D=C:\\x"));
    EXPECT_STREQ(L"/S", SkipProgramName(L"setup.exe /S"));
    EXPECT_STREQ(L"", SkipProgramName(L"setup.exe"));
}

// /Log= names a file on a local drive and nothing else; what is logged cannot start a line.
TEST(Arguments, LogPathsAndTheTextALogLineHolds)
{
    struct PathCase {
        const wchar_t *full;
        bool acceptable;
    } paths[] = {
        {L"C:\\Windows\\Temp\\velmarin-setup.log", true},
        {L"d:\\部署 日志\\安装.记录.txt", true},
        {L"C:\\console.log", true},
        {L"C:\\logs\\COM10.log", true},
        // Devices, in any folder and with any extension, and the device and raw namespaces.
        {L"C:\\logs\\NUL", false},
        {L"C:\\logs\\com1.log", false},
        {L"C:\\logs\\LPT\u00b2", false},
        {L"C:\\logs\\CONOUT$", false},
        {L"C:\\aux.txt\\setup.log", false},
        {L"\\\\.\\C:\\setup.log", false},
        {L"\\\\?\\C:\\setup.log", false},
        {L"\\\\server\\share\\setup.log", false},
        // Streams of the file or of a folder on the way.
        {L"C:\\logs\\setup.log:hidden", false},
        {L"C:\\logs:$I30\\setup.log", false},
        // Names Windows would change, wildcards, control characters, empty names.
        {L"C:\\logs\\setup.log.", false},
        {L"C:\\logs \\setup.log", false},
        {L"C:\\logs\\*.log", false},
        {L"C:\\logs\\set\nup.log", false},
        {L"C:\\logs\\", false},
        {L"C:\\logs\\\\setup.log", false},
        {L"C:\\", false},
        {L"C:setup.log", false},
        // Only a log or a text file: nothing a logon or a double click would run.
        {L"C:\\logs\\SETUP.TXT", true},
        {L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp\\run.bat", false},
        {L"C:\\logs\\setup.log.cmd", false},
        {L"C:\\logs\\.log", false},
    };
    for (const PathCase &c : paths)
        EXPECT_EQ(c.acceptable, LogPathAcceptable(c.full)) << test::Utf8(c.full);

    struct TextCase {
        const wchar_t *text;
        size_t capacity;
        const wchar_t *escaped;
    } texts[] = {
        {L"\"setup.exe\" /S /D=C:\\x\r\n2026-01-01 00:00:00.000 &calc", 100,
         L"\"setup.exe\" /S /D=C:\\x\\r\\n2026-01-01 00:00:00.000 &calc"},
        // Backslashes of paths stay as they are.
        {L"C:\\reports\\new", 100, L"C:\\reports\\new"},
        {L"a\tb\x1b[31m\x7f", 100, L"a\\tb\\x1B[31m\\x7F"},
        {L"行\u2028分\u2029段\u0085", 100, L"行\\u2028分\\u2029段\\u0085"},
        // Cut where it no longer fits, never inside a written-out character.
        {L"ab\r\ncd", 6, L"ab\\r"},
    };
    for (const TextCase &c : texts) {
        wchar_t escaped[100];
        EscapeLogText(c.text, escaped, c.capacity);
        EXPECT_STREQ(c.escaped, escaped) << test::Utf8(c.text);
    }

    // Whose existing log is appended to (Wine reports every file as the user's own).
    struct OwnerCase {
        const wchar_t *owner;
        bool trusted;
    } owners[] = {
        {L"S-1-5-32-544", true},         {L"S-1-5-18", true},  {L"S-1-5-21-7-8-9-1001", true},
        {L"S-1-5-21-7-8-9-1002", false}, {L"S-1-1-0", false},  {L"S-1-5-32-545", false},
        {L"S-1-5-11", false},            {nullptr, false},
    };
    PSID self = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-21-7-8-9-1001", &self));
    for (const OwnerCase &c : owners) {
        PSID owner = nullptr;
        if (c.owner)
            ASSERT_TRUE(ConvertStringSidToSidW(c.owner, &owner));
        EXPECT_EQ(c.trusted, OwnerIsAdministratorsOr(owner, self)) << test::Utf8(c.owner ? c.owner : L"none");
        LocalFree(owner);
    }
    EXPECT_FALSE(OwnerIsAdministratorsOr(self, nullptr)) << "no user of its own";
    LocalFree(self);
}

}
