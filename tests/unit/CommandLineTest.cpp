#include <gtest/gtest.h>
#include "engine/process/CommandLines.h"
#include "base/Format.h"
#include "engine/process/Process.h"
#include "base/SystemEnvironment.h"
#include <shlobj.h>
#include <string>

namespace {

TEST(CommandLines, PayloadPathIsQuotedAndFolderFollowsUnquoted)
{
    WCHAR line[kCommandLineChars];
    ASSERT_TRUE(FormPayloadCommandLine(line, kCommandLineChars, L"C:\\Documents and Settings\\Temp\\123\\velmarin3zip.exe",
                                       L"C:\\Documents and Settings\\Temp\\123\\Velmarin 3"));
    EXPECT_STREQ(L"\"C:\\Documents and Settings\\Temp\\123\\velmarin3zip.exe\" /P=C:\\Documents and Settings\\Temp\\123\\Velmarin 3",
                 line);
}

TEST(CommandLines, BrowserRunsQuoteTheExecutable)
{
    WCHAR line[kCommandLineChars];
    ASSERT_TRUE(FormBrowserCommandLine(line, kCommandLineChars, L"D:\\Apps\\Velmarin 3", L"/tp:2 /v:1"));
    EXPECT_STREQ(L"\"D:\\Apps\\Velmarin 3\\Velmarin.exe\" /tp:2 /v:1", line);
    ASSERT_TRUE(FormBrowserCommandLine(line, kCommandLineChars, L"D:\\Apps\\Velmarin 3", nullptr));
    EXPECT_STREQ(L"\"D:\\Apps\\Velmarin 3\\Velmarin.exe\"", line);
    ASSERT_TRUE(FormLaunchCommandLine(line, kCommandLineChars, L"C:\\Program Files\\Velmarin 3"));
    EXPECT_STREQ(L"\"C:\\Program Files\\Velmarin 3\\velmarin.exe\"", line);
}

// An environment block, written with "|" for each terminating null.
TEST(CommandLines, TheEnvironmentPassedOnIsSortedWithTheValuesSetAndNoCodeLoaders)
{
    const struct {
        const wchar_t *given, *made;
    } rows[] = {
        {L"=C:=C:\\x|Path=p|temp=a|TEMPLATE=t|Tmp=b|TMPX=c||", L"=C:=C:\\x|Path=p|TEMP=R|TEMPLATE=t|TMP=R|TMPX=c|windir=W|"},
        // A block in no order, with a name twice (a lookup finds the first), code loaders and
        // an entry that is no variable.
        {L"ZZZ=1|__compat_layer=RunAsInvoker|PATH=first|COR_PROFILER_PATH=x.dll|complus_X=1|Path=second|ComSpec=c|"
         L"X|CORPORATE=kept||",
         L"CORPORATE=kept|PATH=first|TEMP=R|TMP=R|windir=W|ZZZ=1|"},
        {L"|", L"TEMP=R|TMP=R|windir=W|"},
    };
    const EnvironmentValue values[] = {{L"TEMP", L"R"}, {L"TMP", L"R"}, {L"windir", L"W"}, {L"ComSpec", nullptr}};
    for (const auto &row : rows) {
        std::wstring given = row.given, made;
        for (wchar_t &ch : given)
            ch = ch == L'|' ? 0 : ch;
        WCHAR *block = EditedEnvironment(given.c_str(), values, 4);
        ASSERT_NE(nullptr, block);
        for (const WCHAR *entry = block; *entry; entry += wcslen(entry) + 1)
            made += std::wstring(entry) + L"|";
        HeapFree(GetProcessHeap(), 0, block);
        EXPECT_EQ(row.made, made);
    }
}

// What the user set for where the system is, or to load code into programs, is not what the
// elevated setup and the programs it starts go by; his own variables stay.
TEST(CommandLines, TheSystemsOwnVariablesReplaceTheUsers)
{
    WCHAR *saved = GetEnvironmentStringsW(), windows[MAX_PATH], programs[MAX_PATH], shared[MAX_PATH], value[32768];
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programs);
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, shared);
    const wchar_t *const system = L"system", *const mine = L"D:\\mine";
    const std::pair<const wchar_t *, std::wstring> rows[] = {
        {L"Path", system}, {L"ComSpec", system}, {L"PATHEXT", system}, {L"ProgramFiles", programs}, {L"windir", windows},
        {L"SystemRoot", windows}, {L"SystemDrive", std::wstring(windows, 2)}, {L"cor_profiler_path", L""}, {L"CORECLR_PROFILER", L""},
        {L"COMPlus_ZapDisable", L""}, {L"DOTNET_STARTUP_HOOKS", L""}, {L"__COMPAT_LAYER", L""}, {L"CORPORATE", mine},
        {L"USERPROFILE", mine}, {L"LONGEST", std::wstring(32766, L'x')}, {L"ProgramData", shared},
        {L"ALLUSERSPROFILE", shared}, {L"PUBLIC", system}};
    for (const auto &row : rows)
        SetEnvironmentVariableW(row.first, row.second.size() > 100 ? row.second.c_str() : mine);
    EXPECT_TRUE(UseTheSystemsOwnVariables());
    for (const auto &row : rows) {
        std::wstring got = GetEnvironmentVariableW(row.first, value, 32768) ? value : L"";
        EXPECT_TRUE(row.second == system ? !got.empty() && !wcsstr(value, L"mine") : got == row.second) << row.first;
    }
    SetEnvironmentStringsW(saved);
    FreeEnvironmentStringsW(saved);
}

TEST(CommandLines, TooLongLineIsRefusedNotCut)
{
    WCHAR line[32];
    EXPECT_FALSE(FormBrowserCommandLine(line, 32, L"C:\\A very long folder name indeed", L"/tp:3 /v:1 /tb:0"));
    EXPECT_EQ(31u, wcslen(line));
}

TEST(Format, TerminatesAndReportsCutting)
{
    WCHAR small[8];
    EXPECT_FALSE(Format(small, L"%s", L"0123456789"));
    EXPECT_STREQ(L"0123456", small);
    EXPECT_TRUE(Format(small, L"%s%d", L"ab", -42));
    EXPECT_STREQ(L"ab-42", small);
    EXPECT_FALSE(Copy(small, L"abcdefgh"));
    EXPECT_STREQ(L"abcdefg", small);
    EXPECT_TRUE(Copy(small, L"abc"));
}

}
