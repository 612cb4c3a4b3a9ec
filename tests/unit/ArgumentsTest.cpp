#include <gtest/gtest.h>
#include "app/Arguments.h"
#include "support/TestSupport.h"
#include <string>

namespace {

// What a command line read as, in one line: "S ? d q b c r folder|log|unknown malformed|problem"
// with each 0|1 option as 0, 1 or - when not given.
std::string Summary(const wchar_t *words, ArgumentsOf program = kSetupArguments)
{
    Arguments read;
    ReadArguments(words, program, read);
    auto choice = [](int value) { return value == kOptionUnset ? std::string("-") : std::to_string(value); };
    return std::string(read.silent ? "S" : "-") + (read.help ? "?" : "-") + " " + choice(read.desktopShortcut) +
           choice(read.quickLaunchShortcut) + choice(read.defaultBrowser) + choice(read.closeBrowser) +
           choice(read.removeData) + " " + test::Utf8(read.folder) + "|" + test::Utf8(read.log) + "|" +
           (read.unknown ? "u" : "-") + (read.malformed ? "m" : "-") + "|" + test::Utf8(read.problem) +
           (ArgumentsAcceptable(read) ? "" : " refused");
}

TEST(Arguments, OptionsQuotingTheFolderRestRepeatsAndBadValues)
{
    struct Case {
        const wchar_t *words;
        const char *read;
    } cases[] = {
        {L"", "-- ----- ||--|"},
        {L"/S", "S- ----- ||--|"},
        {L"/s /desktopshortcut=0 /QUICKLAUNCHSHORTCUT=1 /DefaultBrowser=0 /CloseBrowser=1", "S- 0101- ||--|"},
        {L"  /S\t/?  ", "S? ----- ||--|"},
        // The folder takes the rest of the line, spaces and what looks like options included.
        {L"/S /DesktopShortcut=0 /Log=C:\\log.txt /D=C:\\部署 测试\\Velmarin",
         "S- 0---- C:\\部署 测试\\Velmarin|C:\\log.txt|--|"},
        {L"/D=C:\\Program Files\\Velmarin /S", "-- ----- C:\\Program Files\\Velmarin /S||--|"},
        {L"/S /D=\"C:\\A B\\Velmarin\"  ", "S- ----- C:\\A B\\Velmarin||--|"},
        {L"/S \"/D=C:\\A B\\Velmarin\"", "S- ----- C:\\A B\\Velmarin||--|"},
        {L"\"/Log=C:\\my logs\\setup.log\" /S", "S- ----- |C:\\my logs\\setup.log|--|"},
        {L"/Log=\"C:\\my logs\\setup.log\"", "-- ----- |C:\\my logs\\setup.log|--|"},
        // Unknown words: ignored without /S, refused with it.
        {L"/quiet", "-- ----- ||u-|/quiet"},
        {L"/S /quiet", "S- ----- ||u-|/quiet refused"},
        {L"/S /RemoveData=1", "S- ----- ||u-|/RemoveData=1 refused"},
        // Malformed: refused with or without /S.
        {L"/S /S", "S- ----- ||-m|/S refused"},
        {L"/DesktopShortcut=1 /DesktopShortcut=1", "-- 1---- ||-m|/DesktopShortcut=1 refused"},
        {L"/DefaultBrowser=2", "-- ----- ||-m|/DefaultBrowser=2 refused"},
        {L"/DefaultBrowser=", "-- ----- ||-m|/DefaultBrowser= refused"},
        {L"/DefaultBrowser=01", "-- ----- ||-m|/DefaultBrowser=01 refused"},
        {L"/S /Log=", "S- ----- ||-m|/Log= refused"},
        {L"/S /D=   ", "S- ----- ||-m|/D= refused"},
        {L"/S /D=\"\"", "S- ----- ||-m|/D= refused"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.read, Summary(c.words)) << test::Utf8(c.words);

    // The uninstaller's own options, and the setup's unknown to it.
    EXPECT_EQ("S- ----1 |C:\\u.log|--|", Summary(L"/S /RemoveData=1 /Log=C:\\u.log", kUninstallerArguments));
    EXPECT_EQ("S- ----- ||u-|/D=C:\\x refused", Summary(L"/S /D=C:\\x", kUninstallerArguments));

    // What the uninstaller hands its copy reads back as it was.
    Arguments read;
    ReadArguments(L"/RemoveData=1 /S \"/Log=C:\\my logs\\u.log\"", kUninstallerArguments, read);
    wchar_t formed[400];
    ASSERT_TRUE(FormUninstallerOptions(read, formed, 400));
    EXPECT_EQ("S- ----1 |C:\\my logs\\u.log|--|", Summary(formed, kUninstallerArguments));

    // The program's name, quoted with spaces or not, is skipped.
    EXPECT_STREQ(L"/S /D=C:\\x", SkipProgramName(L"\"C:\\Program Files\\setup.exe\"  /S /D=C:\\x"));
    EXPECT_STREQ(L"/S", SkipProgramName(L"setup.exe /S"));
    EXPECT_STREQ(L"", SkipProgramName(L"setup.exe"));
}

}
