// The package's custom actions. The immediate ones read the public properties, check them before
// anything changes and hand the deferred ones, which run as the machine's account inside the
// installation's transaction, all they need as CustomActionData: the program to run, its log and
// its arguments, one a line.
#include "deploy/PackageRules.h"
#include "app/Outcomes.h"
#include "base/Format.h"
#include <msi.h>
#include <msiquery.h>
#include <wchar.h>

static const WCHAR kSetupRecordKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{7B2E91C4-3A5D-4f08-B6E2-91D4C07A5F13}";
// The setup's and the uninstaller's logs begin with this line, after a UTF-8 byte-order mark.
static const char kLogHeader[] = "\xEF\xBB\xBF\xE5\xB2\x9A\xE8\x88\x9F\xE6\xB5\x8F\xE8\xA7\x88\xE5\x99\xA8"
                                 "\xE5\xAE\x89\xE8\xA3\x85\xE4\xB8\x8E\xE5\x8D\xB8\xE8\xBD\xBD\xE6\x97\xA5\xE5\xBF\x97";
static const DWORD kMostLogCopied = 1 << 20;

static void Say(MSIHANDLE install, const WCHAR *line)
{
    PMSIHANDLE record = MsiCreateRecord(1);
    // The line goes in as a field, never as the template: brackets in it stay as they are.
    MsiRecordSetStringW(record, 0, L"[1]");
    MsiRecordSetStringW(record, 1, line);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

static void SayFormatted(MSIHANDLE install, const WCHAR *pattern, ...)
{
    WCHAR line[1024];
    va_list args;
    va_start(args, pattern);
    FormatTextV(line, ARRAYSIZE(line), pattern, args);
    va_end(args);
    Say(install, line);
}

static bool ReadProperty(MSIHANDLE install, const WCHAR *name, WCHAR *value, DWORD capacity)
{
    DWORD length = capacity;
    value[0] = 0;
    return MsiGetPropertyW(install, name, value, &length) == ERROR_SUCCESS;
}

// The programs' log: beside the package's own log, else in the machine's Temp.
static void ChooseLog(MSIHANDLE install, WCHAR (&log)[MAX_PATH])
{
    WCHAR packageLog[MAX_PATH];
    if (ReadProperty(install, L"MsiLogFileLocation", packageLog, ARRAYSIZE(packageLog)) &&
        LogBesidePackageLog(packageLog, log, ARRAYSIZE(log)))
        return;
    WCHAR windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, ARRAYSIZE(windows));
    if (length == 0 || length >= ARRAYSIZE(windows))
        Copy(windows, L"C:\\Windows");
    Format(log, L"%s\\Temp\\%s", windows, kLogName);
}

static UINT HandOver(MSIHANDLE install, const WCHAR *action, const WCHAR *program, const WCHAR *log,
                     const WCHAR *arguments)
{
    WCHAR data[4096];
    if (!Format(data, L"%s\n%s\n%s", program, log, arguments) ||
        MsiSetPropertyW(install, action, data) != ERROR_SUCCESS) {
        Say(install, L"The command line does not fit.");
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

// The install folder the setup's entry in the machine's registry names, which only
// administrators change; ERROR_FILE_NOT_FOUND when the browser is not installed.
static LONG RecordedInstallFolder(WCHAR (&folder)[MAX_PATH])
{
    folder[0] = 0;
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupRecordKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key);
    if (result != ERROR_SUCCESS)
        return result;
    DWORD size = sizeof(folder) - sizeof(WCHAR), type = 0;
    result = RegQueryValueExW(key, L"InstallLocation", nullptr, &type, (BYTE *)folder, &size);
    RegCloseKey(key);
    // The uninstaller removed what the setup wrote; what is left is no installation.
    if (result == ERROR_FILE_NOT_FOUND)
        return ERROR_FILE_NOT_FOUND;
    if (result != ERROR_SUCCESS || type != REG_SZ) {
        folder[0] = 0;
        return ERROR_INVALID_DATA;
    }
    folder[size / sizeof(WCHAR)] = 0;
    size_t length = wcslen(folder);
    while (length > 0 && folder[length - 1] == L'\\')
        folder[--length] = 0;
    return length > 0 ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

// While the package owns the installation, the system's list of programs shows the package's
// entry alone: the setup's stays written, as the uninstaller needs it, but hidden.
static void ShowSetupEntry(MSIHANDLE install, bool shown)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupRecordKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return;
    DWORD hidden = 1;
    LONG result = shown ? RegDeleteValueW(key, L"SystemComponent")
                        : RegSetValueExW(key, L"SystemComponent", 0, REG_DWORD, (const BYTE *)&hidden, sizeof(hidden));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
        SayFormatted(install, L"The setup's entry in the list of programs could not be %s (error %ld).",
                     shown ? L"shown" : L"hidden", result);
}

// After the uninstaller ran on its own, the setup's entry holds at most the package's mark, which
// keeps the key: the mark goes, and the key with it when nothing else is left in it.
static void RemoveLeftEntry()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupRecordKey, 0, KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) !=
        ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, L"SystemComponent");
    DWORD subkeys = 1, values = 1;
    bool empty = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                                  nullptr, nullptr) == ERROR_SUCCESS && subkeys == 0 && values == 0;
    RegCloseKey(key);
    if (empty)
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSetupRecordKey, KEY_WOW64_32KEY, 0);
}

// Immediate, before anything changes: checks the public properties and prepares RunSetup.
extern "C" UINT __stdcall PrepareSetup(MSIHANDLE install)
{
    WCHAR installDir[MAX_PATH + 1], desktop[16], quickLaunch[16], defaultBrowser[16], closeBrowser[16];
    bool read = ReadProperty(install, L"INSTALLDIR", installDir, ARRAYSIZE(installDir));
    // A value too long for its buffer is read as what it is not: it is refused as empty.
    read = ReadProperty(install, L"DESKTOP_SHORTCUT", desktop, ARRAYSIZE(desktop)) && read;
    read = ReadProperty(install, L"QUICKLAUNCH_SHORTCUT", quickLaunch, ARRAYSIZE(quickLaunch)) && read;
    read = ReadProperty(install, L"DEFAULT_BROWSER", defaultBrowser, ARRAYSIZE(defaultBrowser)) && read;
    read = ReadProperty(install, L"CLOSE_BROWSER", closeBrowser, ARRAYSIZE(closeBrowser)) && read;
    PackageProperties properties = {installDir, desktop, quickLaunch, defaultBrowser, closeBrowser};
    WCHAR reason[512];
    if (!read) {
        Say(install, L"A property of the package is too long; nothing was installed.");
        return ERROR_INSTALL_FAILURE;
    }
    if (!CheckPackageProperties(properties, reason, ARRAYSIZE(reason))) {
        SayFormatted(install, L"%s; nothing was installed.", reason);
        return ERROR_INSTALL_FAILURE;
    }
    // Without INSTALLDIR an installed browser keeps its folder. Windows Installer removes an
    // older package first; where it does not tell that package it is being upgraded (Wine's
    // does not), that removal takes the browser with it and the setup installs it again, into
    // the same folder.
    WCHAR recorded[MAX_PATH];
    if (wcscmp(installDir, kSetupChoosesFolder) == 0 && RecordedInstallFolder(recorded) == ERROR_SUCCESS)
        properties.installDir = recorded;
    WCHAR setupFolder[MAX_PATH], program[MAX_PATH], log[MAX_PATH], arguments[2048];
    DWORD length = ARRAYSIZE(setupFolder);
    if (MsiGetTargetPathW(install, L"SetupFolder", setupFolder, &length) != ERROR_SUCCESS ||
        !Format(program, L"%sVelmarinSetup.exe", setupFolder)) {
        Say(install, L"The setup program's folder is not known; nothing was installed.");
        return ERROR_INSTALL_FAILURE;
    }
    ChooseLog(install, log);
    if (!SetupArguments(properties, log, arguments, ARRAYSIZE(arguments))) {
        Say(install, L"The setup's command line does not fit; nothing was installed.");
        return ERROR_INSTALL_FAILURE;
    }
    return HandOver(install, L"RunSetup", program, log, arguments);
}

// Immediate: prepares RunUninstaller. The uninstaller is found when it runs, through the record
// in the machine's registry, which only administrators change.
extern "C" UINT __stdcall PrepareRemoval(MSIHANDLE install)
{
    WCHAR log[MAX_PATH], arguments[1024];
    ChooseLog(install, log);
    if (!UninstallerArguments(log, arguments, ARRAYSIZE(arguments)))
        return ERROR_INSTALL_FAILURE;
    return HandOver(install, L"RunUninstaller", L"", log, arguments);
}

// The three lines of CustomActionData, split in place.
static bool SplitData(MSIHANDLE install, WCHAR (&data)[4096], WCHAR *&program, WCHAR *&log, WCHAR *&arguments)
{
    if (!ReadProperty(install, L"CustomActionData", data, ARRAYSIZE(data)))
        return false;
    program = data;
    WCHAR *end = wcschr(program, L'\n');
    if (!end)
        return false;
    *end = 0;
    log = end + 1;
    end = wcschr(log, L'\n');
    if (!end)
        return false;
    *end = 0;
    arguments = end + 1;
    return true;
}

// The log's size now, from where the lines of this run will follow; 0 when there is none yet.
static LONGLONG LogSize(const WCHAR *log)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(log, GetFileExInfoStandard, &data))
        return 0;
    return ((LONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

static void SayUtf8Line(MSIHANDLE install, const char *line, int length)
{
    if (length > 0 && line[length - 1] == '\r')
        --length;
    if (length <= 0)
        return;
    WCHAR wide[2048];
    int written = MultiByteToWideChar(CP_UTF8, 0, line, length < 4096 ? length : 4096, wide, ARRAYSIZE(wide) - 1);
    wide[written > 0 ? written : 0] = 0;
    if (written > 0)
        Say(install, wide);
}

// Copies the lines the program added to its log into the package's log. The folder may be one
// that users write to: only a plain file with one name that begins as the programs' logs do is
// read, so no other file the machine's account can read ends up in the package's log.
static void CopyLogLines(MSIHANDLE install, const WCHAR *log, LONGLONG from)
{
    HANDLE file = CreateFileW(log, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        SayFormatted(install, L"The log %s cannot be read (error %lu).", log, GetLastError());
        return;
    }
    BY_HANDLE_FILE_INFORMATION info;
    char header[sizeof(kLogHeader) - 1];
    DWORD got = 0;
    bool sound = GetFileInformationByHandle(file, &info) &&
                 !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
                 info.nNumberOfLinks == 1 && ReadFile(file, header, sizeof(header), &got, nullptr) &&
                 got == sizeof(header) && memcmp(header, kLogHeader, sizeof(header)) == 0;
    LARGE_INTEGER size = {}, start = {};
    start.QuadPart = from;
    if (!sound || !GetFileSizeEx(file, &size) || size.QuadPart < from ||
        !SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        SayFormatted(install, L"The log %s is not one of the setup's; it is not copied here.", log);
        CloseHandle(file);
        return;
    }
    LONGLONG wanted = size.QuadPart - from;
    DWORD count = wanted > kMostLogCopied ? kMostLogCopied : (DWORD)wanted;
    char *text = (char *)HeapAlloc(GetProcessHeap(), 0, count + 1);
    DWORD read = 0;
    if (text && ReadFile(file, text, count, &read, nullptr)) {
        int lineStart = 0;
        for (DWORD i = 0; i < read; ++i) {
            if (text[i] == '\n') {
                SayUtf8Line(install, text + lineStart, (int)i - lineStart);
                lineStart = (int)i + 1;
            }
        }
        SayUtf8Line(install, text + lineStart, (int)read - lineStart);
    }
    if (text)
        HeapFree(GetProcessHeap(), 0, text);
    CloseHandle(file);
}

// Runs a program to its end; its exit code, or a Windows error code when it could not start.
static bool RunToEnd(MSIHANDLE install, const WCHAR *program, const WCHAR *arguments, DWORD &code)
{
    WCHAR commandLine[4096];
    if (!Format(commandLine, L"\"%s\" %s", program, arguments)) {
        Say(install, L"The command line does not fit.");
        return false;
    }
    SayFormatted(install, L"Running %s", commandLine);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
        SayFormatted(install, L"%s could not be started (error %lu).", program, GetLastError());
        return false;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    bool ended = GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return ended;
}

static UINT Conclude(MSIHANDLE install, const WCHAR *program, DWORD code, ActionResult result)
{
    SayFormatted(install, L"%s ended with %lu: %s.", program, code, DescribeExit(code));
    if (result.restartNeeded) {
        // The package sets REBOOT=ReallySuppress: the installation ends with 3010 and restarts nothing.
        MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
        Say(install, L"A restart is needed to finish.");
    }
    if (result.installerCode != ERROR_SUCCESS)
        Say(install, L"The package ends with 1603 and rolls back.");
    return result.installerCode;
}

// Deferred, as the machine's account: runs the setup silently.
extern "C" UINT __stdcall RunSetup(MSIHANDLE install)
{
    WCHAR data[4096];
    WCHAR *program, *log, *arguments;
    if (!SplitData(install, data, program, log, arguments)) {
        Say(install, L"The setup's command line is missing.");
        return ERROR_INSTALL_FAILURE;
    }
    LONGLONG from = LogSize(log);
    DWORD code = 0;
    if (!RunToEnd(install, program, arguments, code))
        return ERROR_INSTALL_FAILURE;
    CopyLogLines(install, log, from);
    ActionResult result = MapSetupExit(code);
    if (result.installerCode == ERROR_SUCCESS)
        ShowSetupEntry(install, false);
    return Conclude(install, L"VelmarinSetup.exe", code, result);
}

// Deferred, as the machine's account: runs the installation's own uninstaller silently.
extern "C" UINT __stdcall RunUninstaller(MSIHANDLE install)
{
    WCHAR data[4096];
    WCHAR *unused, *log, *arguments;
    if (!SplitData(install, data, unused, log, arguments)) {
        Say(install, L"The uninstaller's command line is missing.");
        return ERROR_INSTALL_FAILURE;
    }
    WCHAR folder[MAX_PATH], program[MAX_PATH];
    LONG read = RecordedInstallFolder(folder);
    if (read == ERROR_FILE_NOT_FOUND) {
        // Removed already, by its own uninstaller: the package has nothing more to take away.
        RemoveLeftEntry();
        Say(install, L"The browser is not installed; there is nothing to remove.");
        return ERROR_SUCCESS;
    }
    if (read != ERROR_SUCCESS || !Format(program, L"%s\\UnInst.exe", folder)) {
        Say(install, L"The installation's record names no install folder; nothing was removed.");
        return ERROR_INSTALL_FAILURE;
    }
    // The uninstaller removes only the values the setup wrote, so its entry goes only without
    // the package's mark. Files in use keep the entry and the uninstaller: once the package's
    // entry is gone, the setup's is how the rest is removed, so it stays shown; a failure rolls
    // the package back, which keeps its own entry, and the setup's is hidden again.
    ShowSetupEntry(install, true);
    LONGLONG from = LogSize(log);
    DWORD code = 0;
    if (!RunToEnd(install, program, arguments, code)) {
        ShowSetupEntry(install, false);
        return ERROR_INSTALL_FAILURE;
    }
    CopyLogLines(install, log, from);
    if (code != kOutcomeDone && code != kOutcomeFilesStayed)
        ShowSetupEntry(install, false);
    return Conclude(install, L"UnInst.exe", code, MapUninstallerExit(code));
}
