#include "support/TestSupport.h"
#include <sddl.h>
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <cstdio>

namespace test {

std::wstring MakeTempDir(const std::wstring &tag)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static LONG counter = 0;
    for (;;) {
        wchar_t name[MAX_PATH];
        swprintf(name, MAX_PATH, L"%lsvelmarin test %ls %lu-%ld", temp, tag.c_str(), GetCurrentProcessId(),
                 InterlockedIncrement(&counter));
        if (CreateDirectoryW(name, nullptr))
            return name;
    }
}

// Calls visit(name, attributes) for each entry of a folder but "." and "..".
template <class Visit> static void ForEachEntry(const std::wstring &folder, Visit visit)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            visit(name, entry.dwFileAttributes);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

void RemoveTree(const std::wstring &path)
{
    ForEachEntry(path, [&](const std::wstring &name, DWORD attributes) {
        std::wstring child = path + L"\\" + name;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A link planted by a test goes itself; what it points at stays.
            RemoveSymbolicLink(child);
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(child);
        } else {
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(child.c_str());
        }
    });
    RemoveDirectoryW(path.c_str());
}

bool FileExists(const std::wstring &path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::wstring &path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void WriteFile(const std::wstring &path, const std::string &bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
}

std::string ReadFile(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

std::vector<std::string> ReadLines(const std::wstring &path)
{
    std::vector<std::string> lines;
    std::string text = ReadFile(path), line;
    for (char c : text) {
        if (c == '\r')
            continue;
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

std::string Utf8(const std::wstring &text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string result(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &result[0], size, nullptr, nullptr);
    return result;
}

// A Unix path from the environment as a path of the Z: drive, or empty.
std::wstring PathFromEnvironment(const char *name)
{
    const char *unixPath = getenv(name);
    if (!unixPath)
        return L"";
    std::wstring path = L"Z:";
    for (const char *p = unixPath; *p; ++p)
        path += (*p == '/') ? L'\\' : (wchar_t)(unsigned char)*p;
    return path;
}

std::wstring BuildDir()
{
    return PathFromEnvironment("VELMARIN_BUILD");
}

std::wstring AccountSid()
{
    HANDLE token = nullptr;
    BYTE buffer[256];
    DWORD size = 0;
    wchar_t *text = nullptr;
    std::wstring sid;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) &&
        ConvertSidToStringSidW(((TOKEN_USER *)buffer)->User.Sid, &text))
        sid = text;
    if (text)
        LocalFree(text);
    if (token)
        CloseHandle(token);
    return sid;
}

std::wstring StandInFiles()
{
    return BuildDir() + L"\\payload-files";
}

std::wstring SetupExe()
{
    std::wstring other = PathFromEnvironment("VELMARIN_SETUP_EXE");
    return other.empty() ? BuildDir() + L"\\VelmarinSetup.exe" : other;
}

std::wstring ReadRegString(HKEY root, const std::wstring &key, const std::wstring &name, bool *found)
{
    wchar_t value[2048] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t), type = 0;
    LONG status = SHGetValueW(root, key.c_str(), name.empty() ? nullptr : name.c_str(), &type, value, &size);
    if (found)
        *found = status == ERROR_SUCCESS && type == REG_SZ;
    return status == ERROR_SUCCESS ? std::wstring(value) : std::wstring();
}

DWORD ReadRegDword(HKEY root, const std::wstring &key, const std::wstring &name, bool *found)
{
    DWORD value = 0, size = sizeof(value), type = 0;
    LONG status = SHGetValueW(root, key.c_str(), name.c_str(), &type, &value, &size);
    if (found)
        *found = status == ERROR_SUCCESS && type == REG_DWORD;
    return value;
}

bool RegKeyExists(HKEY root, const std::wstring &key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

void DeleteRegTree(HKEY root, const std::wstring &key)
{
    SHDeleteKeyW(root, key.c_str());
}

struct FindContext {
    DWORD processId;
    std::wstring caption;
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectWindow(HWND window, LPARAM param)
{
    FindContext *context = (FindContext *)param;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (context->processId && owner != context->processId)
        return TRUE;
    wchar_t text[512];
    GetWindowTextW(window, text, 512);
    if (context->caption == text)
        context->found.push_back(window);
    return TRUE;
}

std::vector<HWND> WindowsOf(DWORD processId, const std::wstring &caption)
{
    FindContext context{processId, caption, {}};
    EnumWindows(CollectWindow, (LPARAM)&context);
    return context.found;
}

HWND WaitForWindow(const std::wstring &caption, DWORD timeoutMs, DWORD processId)
{
    DWORD start = GetTickCount();
    do {
        for (HWND window : WindowsOf(processId, caption)) {
            if (IsWindowVisible(window))
                return window;
        }
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

MessageBoxAnswerer::MessageBoxAnswerer(const std::wstring &caption, std::vector<int> answers, DWORD processId)
    : m_caption(caption), m_answers(std::move(answers)), m_processId(processId ? processId : GetCurrentProcessId()),
      m_answered(0), m_stop(0)
{
    InitializeCriticalSection(&m_lock);
    m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    InterlockedExchange(&m_stop, 1);
    WaitForSingleObject(m_thread, 5000);
    CloseHandle(m_thread);
    DeleteCriticalSection(&m_lock);
}

int MessageBoxAnswerer::Answered() const
{
    return m_answered;
}

std::vector<std::wstring> MessageBoxAnswerer::Texts() const
{
    EnterCriticalSection(&m_lock);
    std::vector<std::wstring> texts = m_texts;
    LeaveCriticalSection(&m_lock);
    return texts;
}

static BOOL CALLBACK FindStaticText(HWND child, LPARAM param)
{
    wchar_t className[32];
    GetClassNameW(child, className, 32);
    if (lstrcmpiW(className, L"Static") == 0 && GetDlgCtrlID(child) == 0xFFFF) {
        wchar_t text[1024];
        GetWindowTextW(child, text, 1024);
        *(std::wstring *)param = text;
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI MessageBoxAnswerer::Run(LPVOID param)
{
    MessageBoxAnswerer *self = (MessageBoxAnswerer *)param;
    while (!self->m_stop) {
        if ((size_t)self->m_answered < self->m_answers.size()) {
            for (HWND box : WindowsOf(self->m_processId, self->m_caption)) {
                wchar_t className[32];
                GetClassNameW(box, className, 32);
                // Pages are dialogs too; only a message box has the text control 0xFFFF.
                if (lstrcmpW(className, L"#32770") != 0 || !IsWindowVisible(box) || !GetDlgItem(box, 0xFFFF))
                    continue;
                std::wstring text;
                EnumChildWindows(box, FindStaticText, (LPARAM)&text);
                EnterCriticalSection(&self->m_lock);
                self->m_texts.push_back(text);
                LeaveCriticalSection(&self->m_lock);
                int answer = self->m_answers[self->m_answered];
                InterlockedIncrement(&self->m_answered);
                SendMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), (LPARAM)GetDlgItem(box, answer));
                // Wait for that box to go before looking for the next one.
                for (int i = 0; i < 200 && IsWindow(box) && IsWindowVisible(box); ++i)
                    Sleep(10);
                break;
            }
        }
        Sleep(20);
    }
    return 0;
}

HANDLE StartProcess(const std::wstring &commandLine, DWORD *processId)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    if (processId)
        *processId = process.dwProcessId;
    return process.hProcess;
}

void ScreenDpi::Set(DWORD dpi)
{
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &dpi, sizeof(dpi));
}

ReportedWindowsVersion::ReportedWindowsVersion(const std::wstring &exe, const wchar_t *version)
    : m_key(L"Software\\Wine\\AppDefaults\\" + exe)
{
    SHSetValueW(HKEY_CURRENT_USER, m_key.c_str(), L"Version", REG_SZ, version, (DWORD)(wcslen(version) + 1) * sizeof(WCHAR));
}

ReportedWindowsVersion::~ReportedWindowsVersion()
{
    DeleteRegTree(HKEY_CURRENT_USER, m_key);
}

bool RunsOnWin64Road()
{
    const char *road = getenv("VELMARIN_WIN64");
    return road && strcmp(road, "1") == 0;
}

bool OnSixtyFourBitWindows()
{
    BOOL wow64 = FALSE;
    return sizeof(void *) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

void ExpectThirtyTwoBitOnWin64(HANDLE process)
{
    if (!RunsOnWin64Road() || !process)
        return;
    BOOL wow64 = FALSE;
    EXPECT_TRUE(IsWow64Process(process, &wow64) && wow64) << "the program under test is not the 32-bit one";
}

void PumpMessages(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    MSG msg;
    do {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < milliseconds);
}

}

#include "app/SetupMessages.h"
#include "engine/process/RunningBrowser.h"

namespace test {

MessageRecorder::MessageRecorder()
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VelmarinTestRecorder";
        RegisterClassW(&wc);
        registered = true;
    }
    m_window = CreateWindowExW(0, L"VelmarinTestRecorder", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               GetModuleHandleW(nullptr), this);
}

MessageRecorder::~MessageRecorder()
{
    DestroyWindow(m_window);
}

LRESULT CALLBACK MessageRecorder::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)((CREATESTRUCTW *)lParam)->lpCreateParams);
    MessageRecorder *self = (MessageRecorder *)GetWindowLongPtrW(window, GWLP_USERDATA);
    if (self && message == WM_SETUP_PROGRESS)
        self->m_received.push_back((int)wParam);
    else if (self && message == WM_SETUP_END)
        self->m_received.push_back(-1);
    return DefWindowProcW(window, message, wParam, lParam);
}

bool MessageRecorder::Ended() const
{
    for (int value : m_received) {
        if (value == -1)
            return true;
    }
    return false;
}

std::vector<int> MessageRecorder::WaitForEnd(DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!Ended() && GetTickCount() - start < timeoutMs)
        PumpMessages(20);
    return m_received;
}

std::vector<int> MessageRecorder::Collect(DWORD milliseconds)
{
    PumpMessages(milliseconds);
    return m_received;
}

const std::vector<std::wstring> &PayloadFileTable()
{
    static const std::vector<std::wstring> files = {
        L"\\Velmarin.exe",
        L"\\WebApp.exe",
        L"\\UnInst.exe",
        L"\\Extensions\\GuardHub\\GuardHub.dll",
        L"\\Extensions\\GuardHub\\urlproc.dll",
        L"\\Extensions\\PlgKit\\PlgKit.dll",
        L"\\Extensions\\PlgStrip\\PlgStrip.dll",
        L"\\Extensions\\PlgBlock\\PlgBlock.dll",
        L"\\Extensions\\PlgTabs\\PlgTabs.dll",
        L"\\Extensions\\PlgRelay\\PlgRelay.dll",
        L"\\Extensions\\PlgHint\\PlgHint.dll",
        L"\\Extensions\\PlgFetch\\PlgFetch.dll",
        L"\\Skin\\Frost_Glass\\skin.ini",
        L"\\Skin\\Frost_Glass\\ico\\browser.ico",
    };
    return files;
}

void EndProcessesIn(const std::wstring &folder)
{
    TerminateProcessesByPath((folder + L"\\").c_str(), 5000);
}

}

#include "app/InstallOptions.h"
#include "base/FolderSecurity.h"
#include "engine/Product.h"
#include "base/Checksum.h"

namespace test {

static AppliedProtections *g_protections = nullptr;

static bool NoteProtection(const wchar_t *path, PSECURITY_DESCRIPTOR descriptor)
{
    for (const std::wstring &refused : g_protections->refusedBelow)
        if (_wcsnicmp(path, refused.c_str(), refused.size()) == 0)
            return false;
    g_protections->applied.push_back(
        {path, FolderContents(path).empty(), std::string((const char *)descriptor, GetSecurityDescriptorLength(descriptor))});
    if (g_protections->onApply)
        g_protections->onApply(path);
    return true;
}

AppliedProtections::AppliedProtections(std::vector<std::wstring> refused) : refusedBelow(refused)
{
    // Nothing the setup reads is taken from here: descriptors read are none.
    static const FolderSecurityHooks hooks = {[](const wchar_t *) -> PSECURITY_DESCRIPTOR { return nullptr; }, NoteProtection,
                                              nullptr};
    g_protections = this;
    SetFolderSecurityHooks(&hooks);
}

AppliedProtections::~AppliedProtections()
{
    SetFolderSecurityHooks(nullptr);
}

TempPathGuard::TempPathGuard(const std::wstring &folder)
{
    GetEnvironmentVariableW(L"TMP", m_tmp, MAX_PATH);
    GetEnvironmentVariableW(L"TEMP", m_temp, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", folder.c_str());
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
}

TempPathGuard::~TempPathGuard()
{
    SetEnvironmentVariableW(L"TMP", m_tmp);
    SetEnvironmentVariableW(L"TEMP", m_temp);
}

void RemoveBrowserRegistration()
{
    DeleteRegTree(HKEY_LOCAL_MACHINE, kClientKey);
    DeleteRegTree(HKEY_LOCAL_MACHINE, kUninstallKey);
    DeleteRegTree(HKEY_LOCAL_MACHINE, kAppPathKey);
    DeleteRegTree(HKEY_LOCAL_MACHINE, kUrlClassKey);
    DeleteRegTree(HKEY_LOCAL_MACHINE, kActiveSetupKey);
    DeleteRegTree(HKEY_CURRENT_USER, kActiveSetupKey);
    SHDeleteValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\RegisteredApplications", L"Velmarin.exe");
}

std::wstring PlantedBrowser(const std::wstring &which)
{
    return BuildDir() + L"\\planted-browsers\\" + which + L"\\Velmarin.exe";
}

static void SetRegString(const wchar_t *key, const wchar_t *name, const std::wstring &value)
{
    SHSetValueW(HKEY_LOCAL_MACHINE, key, name, REG_SZ, value.c_str(), (DWORD)((value.size() + 1) * sizeof(wchar_t)));
}

void PlantInstalledBrowser(const std::wstring &browser, const std::wstring &displayVersion)
{
    SetRegString(kAppPathKey, nullptr, browser);
    if (!displayVersion.empty())
        SetRegString(kUninstallKey, L"DisplayVersion", displayVersion);
}

LinkContents ReadLink(const std::wstring &path)
{
    LinkContents contents;
    IShellLinkW *link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void **)&link)))
        return contents;
    IPersistFile *file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file))) {
        if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
            wchar_t buffer[MAX_PATH] = {};
            link->GetPath(buffer, MAX_PATH, nullptr, SLGP_RAWPATH);
            contents.target = buffer;
            buffer[0] = 0;
            link->GetWorkingDirectory(buffer, MAX_PATH);
            contents.workingDir = buffer;
            buffer[0] = 0;
            link->GetArguments(buffer, MAX_PATH);
            contents.arguments = buffer;
            contents.read = true;
        }
        file->Release();
    }
    link->Release();
    return contents;
}

static void CollectFiles(const std::wstring &root, const std::wstring &relative, std::map<std::wstring, std::string> &files)
{
    ForEachEntry(root + relative, [&](const std::wstring &name, DWORD attributes) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectFiles(root, relative + L"\\" + name, files);
        else
            files[relative + L"\\" + name] = ReadFile(root + relative + L"\\" + name);
    });
}

std::map<std::wstring, std::string> FolderContents(const std::wstring &folder)
{
    std::map<std::wstring, std::string> files;
    CollectFiles(folder, L"", files);
    return files;
}

ULONGLONG FolderBytes(const std::wstring &folder)
{
    ULONGLONG bytes = 0;
    for (const auto &file : FolderContents(folder))
        bytes += file.second.size();
    return bytes;
}

void ExpectNoUpdateLeftovers(const std::wstring &folder)
{
    for (const auto &file : FolderContents(folder)) {
        const std::wstring &name = file.first;
        bool leftover = name.find(L".vmnew") != std::wstring::npos || name.find(L".vmold") != std::wstring::npos ||
                        name.find(L"VelmarinSetup.journal") != std::wstring::npos ||
                        name.find(L"VelmarinSetup.record.new") != std::wstring::npos;
        EXPECT_FALSE(leftover) << Utf8(name);
    }
}

static std::string UnixPath(const std::wstring &path)
{
    typedef char *(CDECL * UnixNameFn)(const wchar_t *);
    UnixNameFn unixName = (UnixNameFn)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    char *name = unixName ? unixName(path.c_str()) : nullptr;
    std::string result = name ? name : "";
    if (name)
        HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Starts a Unix tool on Unix paths. Wine starts Unix programs too; such a program takes its
// standard handles as file descriptors, so it gets none. Wine cannot wait for it: callers await
// its result on disk.
static bool StartUnixTool(const std::wstring &tool, const std::vector<std::string> &paths)
{
    std::wstring commandLine = tool;
    for (const std::string &path : paths) {
        if (path.empty())
            return false;
        commandLine += L" \"" + std::wstring(path.begin(), path.end()) + L"\"";
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup,
                        &started))
        return false;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

static bool WaitForAttributes(const std::wstring &path, bool present)
{
    for (int i = 0; i < 250; ++i) {
        if ((GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) == present)
            return true;
        Sleep(20);
    }
    return false;
}

bool MakeSymbolicLink(const std::wstring &link, const std::wstring &target)
{
    if (!StartUnixTool(L"Z:\\bin\\ln -s", {UnixPath(target), UnixPath(link)}) || !WaitForAttributes(link, true))
        return false;
    return (GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool MapDrive(wchar_t letter, const std::wstring &target)
{
    std::string device = std::string(getenv("WINEPREFIX") ? getenv("WINEPREFIX") : "") + "/dosdevices/" +
                         (char)towlower(letter) + ":";
    std::wstring root = std::wstring(1, letter) + L":\\";
    if (!StartUnixTool(L"Z:\\bin\\ln -sfn", {UnixPath(target), device}) || !WaitForAttributes(root, true))
        return false;
    // Wine names an opened file by the drives it read last, at most once a second: from the
    // next second on, every name it gives knows the new drive.
    Sleep(1100);
    return true;
}

void UnmapDrive(wchar_t letter)
{
    std::string device = std::string(getenv("WINEPREFIX") ? getenv("WINEPREFIX") : "") + "/dosdevices/" +
                         (char)towlower(letter) + ":";
    if (StartUnixTool(L"Z:\\bin\\rm -f", {device}) && WaitForAttributes(std::wstring(1, letter) + L":\\", false))
        Sleep(1100);
}

static ULONGLONG DriveSize(const std::wstring &folder)
{
    ULARGE_INTEGER total = {};
    GetDiskFreeSpaceExW(folder.c_str(), nullptr, &total, nullptr);
    return total.QuadPart;
}

// A tmpfs of `kilobytes` on `folder` (made here), with further mount options; true once the
// folder shows its size.
static bool MountMemoryFileSystem(const std::wstring &folder, int kilobytes, const std::wstring &options)
{
    CreateDirectoryW(folder.c_str(), nullptr);
    ULONGLONG size = (ULONGLONG)kilobytes << 10;
    StartUnixTool(L"Z:\\bin\\mount -t tmpfs -o " + options + L"size=" + std::to_wstring(kilobytes) + L"k,mode=0755 tmpfs",
                  {UnixPath(folder)});
    for (int i = 0; i < 100 && DriveSize(folder) > size; ++i)
        Sleep(50);
    return DriveSize(folder) <= size;
}

bool MountSmallDrive(wchar_t letter, const std::wstring &folder, int kilobytes)
{
    return MountMemoryFileSystem(folder, kilobytes, L"") && MapDrive(letter, folder);
}

void UnmountSmallDrive(wchar_t letter, const std::wstring &folder)
{
    UnmapDrive(letter);
    UnmountFolder(folder);
}

bool MountReadOnlyFolder(const std::wstring &folder)
{
    return MountMemoryFileSystem(folder, 64, L"ro,");
}

void UnmountFolder(const std::wstring &folder)
{
    ULONGLONG mounted = DriveSize(folder);
    StartUnixTool(L"Z:\\bin\\umount", {UnixPath(folder)});
    for (int i = 0; i < 100 && DriveSize(folder) == mounted; ++i)
        Sleep(50);
}

void RemoveSymbolicLink(const std::wstring &link)
{
    if (StartUnixTool(L"Z:\\bin\\rm -f", {UnixPath(link)}))
        WaitForAttributes(link, false);
}

void CopyTree(const std::wstring &from, const std::wstring &to)
{
    CreateDirectoryW(to.c_str(), nullptr);
    ForEachEntry(from, [&](const std::wstring &name, DWORD attributes) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            CopyTree(from + L"\\" + name, to + L"\\" + name);
        else
            CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE);
    });
}

}

namespace test {

bool WatchedOperations::Run(char op, const WCHAR *path, const WCHAR *to, const std::function<bool()> &operation,
                            wchar_t record)
{
    // An update flushes its copies from several threads: one operation at a time here.
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    events.push_back({op, path, to, record, false});
    if (before)
        before(events.back());
    bool result = events.back().result = operation();
    if (after)
        after(events.back());
    return result;
}

std::string ForgedJournal(const std::vector<std::wstring> &records)
{
    const ULONGLONG id = 0x5EED;
    std::wstring begin(1, L'B');
    begin.append((const wchar_t *)&id, sizeof(id) / sizeof(wchar_t));
    std::string journal;
    std::vector<std::wstring> all = {begin};
    all.insert(all.end(), records.begin(), records.end());
    for (const std::wstring &body : all) {
        DWORD size = DWORD(body.size() * sizeof(wchar_t)), crc = Crc32(Crc32(0, &id, sizeof(id)), body.data(), size);
        journal.append((const char *)&size, 4).append((const char *)&crc, 4).append((const char *)body.data(), size);
    }
    return journal;
}

std::wstring FileRecord(const std::wstring &relative, bool replaces)
{
    std::wstring record = {L'F', wchar_t(replaces), wchar_t(relative.size())};
    return record + relative + (replaces ? relative + L".0000.vmold" : L"");
}

std::wstring SwappedRecord(DWORD index)
{
    return std::wstring(1, L'S') + std::wstring((const wchar_t *)&index, 2);
}

void LeaveStoppedUpdate(const std::wstring &source, const std::wstring &folder)
{
    WatchedOperations watched;
    std::map<std::wstring, std::string> files;
    std::string journal;
    watched.after = [&](const WatchedOperations::Event &event) {
        bool intoPlace = event.op == 'm' && event.to.find(L".vm") == std::wstring::npos;
        if (intoPlace && files.empty()) {
            files = FolderContents(folder);
            journal = watched.journal;
        }
    };
    CFileUpdate update(source.c_str(), folder.c_str(), &watched);
    ASSERT_EQ(kUpdateReady, update.Open(0));
    ASSERT_TRUE(update.StageTree(L""));
    ASSERT_TRUE(update.Commit());
    ASSERT_FALSE(files.empty()) << "no file was swapped in";
    RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const auto &file : files) {
        std::wstring path = folder + file.first;
        SHCreateDirectoryExW(nullptr, path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
        WriteFile(path, file.second);
    }
    WriteFile(folder + L"\\VelmarinSetup.journal", journal);
}

std::wstring BlocksPayloadProgram()
{
    return BuildDir() + L"\\tests\\payload-in-blocks\\velmarin3zip.exe";
}

std::string BlocksPayloadStream()
{
    return ReadFile(BuildDir() + L"\\tests\\payload-blocks.xz");
}

std::wstring PayloadProgramWithStream(const std::wstring &folder, const std::string &stream)
{
    std::wstring program = folder + L"\\velmarin3zip.exe";
    EXPECT_TRUE(CopyFileW(BlocksPayloadProgram().c_str(), program.c_str(), FALSE));
    HANDLE update = BeginUpdateResourceW(program.c_str(), FALSE);
    EXPECT_TRUE(update && UpdateResourceW(update, L"BIN", MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                          (void *)stream.data(), (DWORD)stream.size()) &&
                EndUpdateResourceW(update, FALSE));
    return program;
}

}
