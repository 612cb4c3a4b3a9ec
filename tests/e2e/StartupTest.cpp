// Start-up of the real setup under Wine: one copy at a time, the exit question and exit code,
// and no DLL taken from the setup's own folder.
#include <gtest/gtest.h>
#include "e2e/Screenshot.h"
#include "e2e/SetupProcess.h"
#include "e2e/WizardDriver.h"
#include "support/TestSupport.h"
#include <shlwapi.h>
#include <algorithm>
#include <vector>

namespace {

using test::SetupProcess;

const DWORD kExitMinusOne = 0xFFFFFFFF;

BOOL CALLBACK CollectWindow(HWND window, LPARAM list)
{
    ((std::vector<HWND> *)list)->push_back(window);
    return TRUE;
}

// What another program may send or post to the setup's windows: the message the controls once
// answered for screen readers, with no pointer and with pointers of every kind; each control's
// command and mouse and key presses; the worker's commands and the progress page's. Nothing of
// it installs, ends or crashes anything.
void SendWhatOthersMay(const SetupProcess &setup, HWND page)
{
    const UINT kControlsFacts = WM_APP + 0x2A0;
    static char here[4096];
    std::vector<HWND> targets = {page};
    EnumChildWindows(page, CollectWindow, (LPARAM)&targets);
    for (HWND target : targets) {
        for (WPARAM pointer : {(WPARAM)0, (WPARAM)here, (WPARAM)0x7FFE0000, (WPARAM)target, (WPARAM)0x10})
            SendMessageTimeoutW(target, kControlsFacts, pointer, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
        int id = GetDlgCtrlID(target);
        PostMessageW(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)target);
        PostMessageW(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        SendMessageTimeoutW(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)target, SMTO_ABORTIFHUNG, 2000, nullptr);
        for (UINT input : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_KEYDOWN, WM_CHAR, WM_KEYUP})
            PostMessageW(target, input, input >= WM_KEYDOWN ? VK_SPACE : MK_LBUTTON, MAKELPARAM(5, 5));
        PostMessageW(target, WM_TIMER, 0x5645, 0);
    }
    // The worker's message-only window, and the setup's private commands to it and to a page.
    for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window;
         window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != setup.Id())
            continue;
        for (UINT command : {0x1401u, 0x1402u, 0x1403u, 0x3403u, (UINT)WM_CLOSE})
            for (LPARAM key : {(LPARAM)0, (LPARAM)1, (LPARAM)0x5EED})
                PostMessageW(window, command, command == 0x1402u ? (WPARAM)page : 1, key);
    }
    for (UINT ending : {0x3401u, 0x3402u, (UINT)WM_APP + 1})
        PostMessageW(page, ending, 100, 0);
}

TEST(Startup, ShowsTheWelcomePageAndEndsWithMinusOneOnYes)
{
    test::RemoveInstallation(test::DefaultInstallFolder());
    SetupProcess setup;
    ASSERT_TRUE(setup.Started());
    HWND page = setup.WaitForPage();
    ASSERT_NE(nullptr, page);
    RECT client;
    GetClientRect(page, &client);
    EXPECT_EQ(587, client.right);
    EXPECT_EQ(396, client.bottom);

    SendWhatOthersMay(setup, page);
    Sleep(1500);
    EXPECT_EQ(STILL_ACTIVE, setup.WaitForExit(0)) << "nothing crashed or ended it";
    EXPECT_EQ(page, setup.WaitForPage(0)) << "still the welcome page";
    EXPECT_FALSE(test::DirExists(test::DefaultInstallFolder())) << "nothing installed";

    // No leaves everything as it was.
    PostMessageW(page, WM_CLOSE, 0, 0);
    HWND box = test::WaitForMessageBox(setup.Id(), test::kSetupTitle, 10000);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(test::kExitPrompt, test::MessageBoxText(box));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), (LPARAM)GetDlgItem(box, IDNO));
    Sleep(500);
    EXPECT_EQ(STILL_ACTIVE, setup.WaitForExit(0));
    EXPECT_TRUE(IsWindowVisible(page));

    setup.QuitThroughExitQuestion(page);
    EXPECT_EQ(kExitMinusOne, setup.WaitForExit(10000));
}

// At 150 % the setup says it is DPI-aware and draws itself to scale: the page and its buttons
// are one and a half times their size, not stretched by the system nor left small.
TEST(Startup, AtOneHundredAndFiftyPercentThePageIsDrawnToScale)
{
    HWND page = nullptr;
    SetupProcess setup;
    {
        test::ScreenDpi screen(144);
        ASSERT_TRUE(setup.Started());
        page = setup.WaitForPage();
    }
    ASSERT_NE(nullptr, page);
    RECT client;
    GetClientRect(page, &client);
    EXPECT_NEAR(881, client.right, 1);
    EXPECT_NEAR(594, client.bottom, 1);
    EXPECT_TRUE(test::SaveWindowScreenshot(page, L"setup-150"));
    setup.QuitThroughExitQuestion(page);
    EXPECT_EQ(kExitMinusOne, setup.WaitForExit(10000));

    // Wine gives every program the screen's DPI; Windows only those whose manifest asks, as the
    // setup's and the uninstaller's do, read as Windows reads them.
    for (const std::wstring &exe : {test::SetupExe(), test::BuildDir() + L"\\payload-files\\UnInst.exe"}) {
        ACTCTXW request = {sizeof(request)};
        request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.lpSource = exe.c_str();
        request.lpResourceName = MAKEINTRESOURCEW(1);
        HANDLE context = CreateActCtxW(&request);
        ASSERT_NE(INVALID_HANDLE_VALUE, context) << test::Utf8(exe);
        wchar_t aware[64] = {}, awareness[64] = {};
        QueryActCtxSettingsW(0, context, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", aware, 64,
                             nullptr);
        QueryActCtxSettingsW(0, context, L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness",
                             awareness, 64, nullptr);
        EXPECT_STREQ(L"true/pm", aware) << test::Utf8(exe);
        EXPECT_STREQ(L"PerMonitorV2, PerMonitor", awareness) << test::Utf8(exe);
        ReleaseActCtx(context);
    }
}

// Quitting at once, while the payload still unpacks: the setup waits for it, then its
// temporary folder (in the Windows folder's Temp) goes, and the payload program's own.
TEST(Startup, QuittingLeavesNothingInTheTemporaryFolder)
{
    std::wstring temp = test::MakeTempDir(L"quit temp");
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::map<std::wstring, std::string> before = test::FolderContents(std::wstring(windows) + L"\\Temp");
    {
        test::TempPathGuard guard(temp);
        SetupProcess setup;
        HWND page = setup.WaitForPage();
        ASSERT_NE(nullptr, page);
        setup.QuitThroughExitQuestion(page);
        EXPECT_EQ(kExitMinusOne, setup.WaitForExit(30000));
    }
    EXPECT_EQ(before, test::FolderContents(std::wstring(windows) + L"\\Temp"));
    EXPECT_TRUE(test::FolderContents(temp).empty());
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((temp + L"\\*").c_str(), &entry);
    int entries = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do
            ++entries;
        while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    EXPECT_EQ(2, entries) << "only . and ..";
    test::RemoveTree(temp);
}

TEST(Startup, SecondCopyBringsTheFirstForwardAndGivesWay)
{
    SetupProcess first;
    HWND page = first.WaitForPage();
    ASSERT_NE(nullptr, page);
    ShowWindow(page, SW_MINIMIZE);
    Sleep(300);
    ASSERT_TRUE(IsIconic(page));

    SetupProcess second;
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(kExitMinusOne, second.WaitForExit(10000));
    EXPECT_TRUE(test::WindowsOf(second.Id(), test::kSetupTitle).empty());
    Sleep(300);
    EXPECT_FALSE(IsIconic(page)) << "the first copy's page comes back";
    EXPECT_TRUE(IsWindowVisible(page));
    EXPECT_EQ(STILL_ACTIVE, first.WaitForExit(0));

    first.QuitThroughExitQuestion(page);
    EXPECT_EQ(kExitMinusOne, first.WaitForExit(10000));
}

TEST(Startup, MutexHeldWithoutAPageRunsAFullCopy)
{
    // Another copy that is still starting holds the mutex but shows no page yet.
    HANDLE mutex = CreateMutexW(nullptr, TRUE, test::kSetupTitle);
    ASSERT_NE(nullptr, mutex);
    SetupProcess setup(test::SetupExe());
    HWND page = setup.WaitForPage();
    EXPECT_NE(nullptr, page);
    if (page)
        setup.QuitThroughExitQuestion(page);
    EXPECT_EQ(kExitMinusOne, setup.WaitForExit(10000));
    CloseHandle(mutex);
}

TEST(Startup, UnknownWordsWithoutSilentChangeNothing)
{
    DWORD id = 0;
    HANDLE process = test::StartProcess(L"\"" + test::SetupExe() + L"\" --help /quiet /DefaultBrowser=2", &id);
    ASSERT_NE(nullptr, process);
    HWND page = nullptr;
    for (int i = 0; i < 1000 && !page; ++i) {
        for (HWND window : test::WindowsOf(id, test::kSetupTitle))
            if (IsWindowVisible(window))
                page = window;
        Sleep(20);
    }
    ASSERT_NE(nullptr, page);
    EXPECT_NE(nullptr, GetDlgItem(page, 1000)) << "the welcome page";
    PostMessageW(page, WM_CLOSE, 0, 0);
    HWND box = test::WaitForMessageBox(id, test::kSetupTitle, 10000);
    ASSERT_NE(nullptr, box);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    WaitForSingleObject(process, 10000);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    EXPECT_EQ(kExitMinusOne, code);
    CloseHandle(process);
}

TEST(Startup, AMinimisedStartMinimisesTheFirstPage)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMINNOACTIVE;
    PROCESS_INFORMATION process = {};
    std::wstring line = L"\"" + test::SetupExe() + L"\"";
    ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    CloseHandle(process.hThread);
    HWND page = nullptr;
    for (int i = 0; i < 1000 && !page; ++i) {
        for (HWND window : test::WindowsOf(process.dwProcessId, test::kSetupTitle))
            if (IsWindowVisible(window))
                page = window;
        Sleep(20);
    }
    ASSERT_NE(nullptr, page);
    EXPECT_TRUE(IsIconic(page));
    ShowWindow(page, SW_RESTORE);
    PostMessageW(page, WM_CLOSE, 0, 0);
    HWND box = test::WaitForMessageBox(process.dwProcessId, test::kSetupTitle, 10000);
    ASSERT_NE(nullptr, box);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 10000));
    CloseHandle(process.hProcess);
}

// Wine takes a DLL from the program's folder only when told to prefer a native DLL; Windows
// would for any DLL outside its known list, and for comctl32 whenever the manifest's common
// controls 6 do not resolve. Per-program overrides in the prefix make Wine behave so for the two
// programs of the test.
const wchar_t *const kPlantedDlls[] = {L"gdiplus", L"msimg32", L"comctl32"};

class DllOverrideGuard {
public:
    DllOverrideGuard()
    {
        for (const wchar_t *exe : kPrograms) {
            std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") + exe + L"\\DllOverrides";
            for (const wchar_t *dll : kPlantedDlls)
                SHSetValueW(HKEY_CURRENT_USER, key.c_str(), dll, REG_SZ, L"native,builtin", sizeof(L"native,builtin"));
        }
    }
    ~DllOverrideGuard()
    {
        for (const wchar_t *exe : kPrograms)
            test::DeleteRegTree(HKEY_CURRENT_USER, std::wstring(L"Software\\Wine\\AppDefaults\\") + exe);
    }

private:
    static constexpr const wchar_t *kPrograms[] = {L"probe.exe", L"VelmarinSetup.exe"};
};

// The shipped setup, and the 64-bit build of the same sources where one was built beside it: each
// with a planted DLL and a probe of its own architecture.
struct Build {
    const char *name;
    std::wstring folder, setup;
    bool other;
};

std::vector<Build> BuildsToPlantBeside()
{
    std::vector<Build> builds = {{"this build", test::BuildDir(), test::SetupExe(), false}};
    std::wstring x64 = test::PathFromEnvironment("VELMARIN_X64_BUILD");
    if (!x64.empty() && test::OnSixtyFourBitWindows())
        builds.push_back({"the 64-bit build", x64, x64 + L"\\VelmarinSetup.exe", true});
    return builds;
}

TEST(DllPlanting, NoDllIsLoadedFromTheSetupsFolder)
{
    DllOverrideGuard overrides;
    for (const Build &build : BuildsToPlantBeside()) {
        SCOPED_TRACE(build.name);
        std::wstring downloads = test::MakeTempDir(L"Downloads");
        std::wstring planted = build.folder + L"\\tests\\planted.dll";
        for (const wchar_t *name : kPlantedDlls)
            ASSERT_TRUE(CopyFileW(planted.c_str(), (downloads + L"\\" + name + L".dll").c_str(), FALSE));
        ASSERT_TRUE(CopyFileW((build.folder + L"\\tests\\dll_probe.exe").c_str(), (downloads + L"\\probe.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(build.setup.c_str(), (downloads + L"\\VelmarinSetup.exe").c_str(), FALSE));

        // The probe loads by bare name: the planted DLLs leave their marks, so the test can see one.
        HANDLE probe = test::StartProcess(L"\"" + downloads + L"\\probe.exe\"");
        ASSERT_NE(nullptr, probe);
        WaitForSingleObject(probe, 20000);
        CloseHandle(probe);
        for (const wchar_t *name : kPlantedDlls) {
            std::wstring mark = downloads + L"\\" + name + L".dll.loaded";
            ASSERT_TRUE(test::FileExists(mark)) << test::Utf8(name);
            DeleteFileW(mark.c_str());
        }

        {
            SetupProcess setup(downloads + L"\\VelmarinSetup.exe", build.other);
            HWND page = setup.WaitForPage();
            ASSERT_NE(nullptr, page);
            // The page has been painted with the skin images by now: GDI+ and msimg32 are in use.
            RedrawWindow(page, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            Sleep(1000);
            setup.QuitThroughExitQuestion(page);
            EXPECT_EQ(kExitMinusOne, setup.WaitForExit(10000));
        }
        for (const wchar_t *name : kPlantedDlls)
            EXPECT_FALSE(test::FileExists(downloads + L"\\" + name + L".dll.loaded")) << test::Utf8(name);
        test::RemoveTree(downloads);
    }
}

// The DLL names in a program's import table, lower case, read from the file.
std::vector<std::string> ImportedDlls(const std::wstring &path)
{
    std::string image = test::ReadFile(path);
    std::vector<std::string> names;
    auto at = [&](size_t offset, size_t size) { return offset + size <= image.size() ? &image[offset] : nullptr; };
    const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)at(0, sizeof(IMAGE_DOS_HEADER));
    const IMAGE_NT_HEADERS32 *nt = dos ? (const IMAGE_NT_HEADERS32 *)at(dos->e_lfanew, sizeof(IMAGE_NT_HEADERS32)) : nullptr;
    if (!nt)
        return names;
    const IMAGE_SECTION_HEADER *sections = IMAGE_FIRST_SECTION(nt);
    auto fileOffset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            if (rva >= sections[i].VirtualAddress && rva < sections[i].VirtualAddress + sections[i].SizeOfRawData)
                return rva - sections[i].VirtualAddress + sections[i].PointerToRawData;
        }
        return image.size();
    };
    // The 32-bit setup, or the 64-bit build of test machines that cannot run 32-bit programs.
    const IMAGE_DATA_DIRECTORY *directories = nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
                                                  ? ((const IMAGE_NT_HEADERS64 *)nt)->OptionalHeader.DataDirectory
                                                  : nt->OptionalHeader.DataDirectory;
    DWORD importRva = directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (size_t offset = fileOffset(importRva);; offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const IMAGE_IMPORT_DESCRIPTOR *entry = (const IMAGE_IMPORT_DESCRIPTOR *)at(offset, sizeof(IMAGE_IMPORT_DESCRIPTOR));
        if (!entry || entry->Name == 0)
            break;
        std::string name = at(fileOffset(entry->Name), 1) ? std::string(&image[fileOffset(entry->Name)]) : "";
        for (char &c : name)
            c = (char)tolower((unsigned char)c);
        names.push_back(name);
    }
    return names;
}

// Only DLLs that every supported Windows takes from its own folder are imported: the rest are
// loaded by full path (common controls through the manifest's redirection, and on first use), so
// a DLL beside the setup in a Downloads folder, or beside the payload program, is never loaded.
TEST(DllPlanting, TheImportTableHoldsOnlyKnownSystemDlls)
{
    const std::vector<std::string> known = {"advapi32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
                                            "ole32.dll",    "shell32.dll", "shlwapi.dll", "user32.dll"};
    for (const std::wstring &program : {test::SetupExe(), test::BuildDir() + L"\\velmarin3zip.exe"}) {
        std::vector<std::string> imported = ImportedDlls(program);
        ASSERT_FALSE(imported.empty()) << test::Utf8(program);
        for (const std::string &name : imported)
            EXPECT_NE(known.end(), std::find(known.begin(), known.end(), name)) << name;
    }
}

}
