// The package's custom actions. The immediate ones read the public properties, check them before
// anything changes and hand the deferred ones, which run as the machine's account inside the
// installation's transaction, all they need as CustomActionData, one item a line.
#include "deploy/PackageRules.h"
#include "deploy/PackagePrograms.h"
#include "app/Outcomes.h"
#include "base/Format.h"
#include "engine/payload/TempFolder.h"
#include <initializer_list>
#include <msi.h>
#include <msiquery.h>
#include <wchar.h>

static const WCHAR kSetupRecordKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{7B2E91C4-3A5D-4f08-B6E2-91D4C07A5F13}";
// The setup's and the uninstaller's logs begin with this line, after a UTF-8 byte-order mark; they
// append to a file that does.
static const char kLogHeader[] = "\xEF\xBB\xBF\xE5\xB2\x9A\xE8\x88\x9F\xE6\xB5\x8F\xE8\xA7\x88\xE5\x99\xA8"
                                 "\xE5\xAE\x89\xE8\xA3\x85\xE4\xB8\x8E\xE5\x8D\xB8\xE8\xBD\xBD\xE6\x97\xA5\xE5\xBF\x97\r\n";
// Windows Installer calls the actions by their plain names; nothing else of the DLL is exported.
#define PACKAGE_ACTION extern "C" __declspec(dllexport) UINT __stdcall

static const DWORD kMostLogCopied = 1 << 20;
static const DWORD kHeaderBytes = sizeof(kLogHeader) - 1;

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

// ---------------------------------------------------------------- the package's mark

// Beside the setup's own values in its record, which only administrators change. While a package
// owns the installation the list of programs shows the package's entry alone: the setup's stays
// written, as the uninstaller needs it, but hidden.
static const WCHAR kMarkHidden[] = L"SystemComponent";
static const WCHAR kMarkProduct[] = L"PackageProductCode";
static const WCHAR kMarkDesktop[] = L"PackageDesktopShortcut";
static const WCHAR kMarkQuickLaunch[] = L"PackageQuickLaunchShortcut";
// The mark as it was when this run's setup started, kept for the run's rollback, which may take
// nothing from the data its caller's immediate action handed on.
static const WCHAR kMarkBefore[] = L"PackageMarkBeforeSetup";

static bool ReadDword(HKEY key, const WCHAR *name, DWORD &value)
{
    DWORD size = sizeof(value), type = 0;
    return RegQueryValueExW(key, name, nullptr, &type, (BYTE *)&value, &size) == ERROR_SUCCESS && type == REG_DWORD &&
           size == sizeof(value);
}

static PackageMark ReadMark()
{
    PackageMark mark = {};
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupRecordKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return mark;
    DWORD hidden = 0, desktop = 0, quickLaunch = 0, type = 0;
    mark.owned = ReadDword(key, kMarkHidden, hidden) && hidden == 1;
    WCHAR code[40] = L"";
    DWORD size = sizeof(code) - sizeof(WCHAR);
    if (RegQueryValueExW(key, kMarkProduct, nullptr, &type, (BYTE *)code, &size) == ERROR_SUCCESS && type == REG_SZ) {
        code[size / sizeof(WCHAR)] = 0;
        if (IsProductCode(code))
            Copy(mark.productCode, code);
    }
    mark.desktopShortcut = ReadDword(key, kMarkDesktop, desktop) && desktop <= 1 ? (int)desktop : -1;
    mark.quickLaunchShortcut = ReadDword(key, kMarkQuickLaunch, quickLaunch) && quickLaunch <= 1 ? (int)quickLaunch : -1;
    RegCloseKey(key);
    return mark;
}

static LONG SetOrDelete(HKEY key, const WCHAR *name, bool set, const BYTE *data, DWORD size, DWORD type)
{
    LONG result = set ? RegSetValueExW(key, name, 0, type, data, size) : RegDeleteValueW(key, name);
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

// Writes `mark`, or takes it away when it is unowned: the setup's entry then shows. A record the
// setup did not write (its 1610 on a first installation) gets no mark.
static void WriteMark(MSIHANDLE install, const PackageMark &mark)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupRecordKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return;
    DWORD hidden = 1, desktop = (DWORD)mark.desktopShortcut, quickLaunch = (DWORD)mark.quickLaunchShortcut;
    LONG results[] = {
        SetOrDelete(key, kMarkHidden, mark.owned, (const BYTE *)&hidden, sizeof(hidden), REG_DWORD),
        SetOrDelete(key, kMarkProduct, mark.owned && mark.productCode[0], (const BYTE *)mark.productCode,
                    (DWORD)((wcslen(mark.productCode) + 1) * sizeof(WCHAR)), REG_SZ),
        SetOrDelete(key, kMarkDesktop, mark.owned && mark.desktopShortcut >= 0, (const BYTE *)&desktop,
                    sizeof(desktop), REG_DWORD),
        SetOrDelete(key, kMarkQuickLaunch, mark.owned && mark.quickLaunchShortcut >= 0, (const BYTE *)&quickLaunch,
                    sizeof(quickLaunch), REG_DWORD),
        // An unowned entry keeps nothing of the package's, so that the key can go with the setup's values.
        mark.owned ? ERROR_SUCCESS : SetOrDelete(key, kMarkBefore, false, nullptr, 0, REG_SZ),
    };
    RegCloseKey(key);
    for (LONG result : results) {
        if (result != ERROR_SUCCESS) {
            SayFormatted(install, L"The package's mark on the setup's entry could not be %s (error %ld).",
                         mark.owned ? L"written" : L"taken away", result);
            return;
        }
    }
}

// Keeps `before`, the mark as it was when this run's setup started, for the run's rollback, just
// before the setup's entry gets this run's mark; without `before`, takes an earlier run's away
// first, so that a rollback of this run puts back only what this run's setup changed. No entry
// (none yet, or the setup's 1610 on a first installation) keeps nothing. False when it fails.
static bool KeepMarkBeforeSetup(MSIHANDLE install, const PackageMark *before)
{
    WCHAR text[64];
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupRecordKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key);
    if (result == ERROR_FILE_NOT_FOUND)
        return true;
    if (result == ERROR_SUCCESS) {
        if (!before)
            result = SetOrDelete(key, kMarkBefore, false, nullptr, 0, REG_SZ);
        else if (FormatPackageMark(*before, text, ARRAYSIZE(text)))
            result = RegSetValueExW(key, kMarkBefore, 0, REG_SZ, (const BYTE *)text,
                                    (DWORD)((wcslen(text) + 1) * sizeof(WCHAR)));
        else
            result = ERROR_INVALID_DATA;
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS)
        SayFormatted(install, before ? L"The package's mark before the setup could not be kept (error %ld), so the "
                                       L"package does not take the browser over."
                                     : L"The package's mark of an earlier run could not be taken away (error %ld); "
                                       L"nothing was installed.",
                     result);
    return result == ERROR_SUCCESS;
}

// The mark KeepMarkBeforeSetup kept, taken away as it is read. False when none is kept.
static bool TakeMarkBeforeSetup(PackageMark &mark)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupRecordKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_32KEY, &key) !=
        ERROR_SUCCESS)
        return false;
    WCHAR text[64] = L"";
    DWORD size = sizeof(text) - sizeof(WCHAR), type = 0;
    bool kept = RegQueryValueExW(key, kMarkBefore, nullptr, &type, (BYTE *)text, &size) == ERROR_SUCCESS && type == REG_SZ;
    if (kept)
        text[size / sizeof(WCHAR)] = 0;
    SetOrDelete(key, kMarkBefore, false, nullptr, 0, REG_SZ);
    RegCloseKey(key);
    return kept && ReadPackageMark(text, mark);
}

// After the uninstaller ran on its own, the setup's entry holds at most the package's mark, which
// keeps the key: the mark goes, and the key with it when nothing else is left in it.
static void RemoveLeftEntry(MSIHANDLE install)
{
    WriteMark(install, PackageMark{});
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupRecordKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 1, values = 1;
    bool empty = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                                  nullptr, nullptr) == ERROR_SUCCESS && subkeys == 0 && values == 0;
    RegCloseKey(key);
    if (empty)
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSetupRecordKey, KEY_WOW64_32KEY, 0);
}

// ---------------------------------------------------------------- the programs' log

// A file made new for one run, held open until its lines are copied: nobody else can have made
// it, take it away or hold it, and only administrators and the system may open it.
struct ProgramsLog {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE folder = INVALID_HANDLE_VALUE;  // the protected folder made for it, when it has one
    WCHAR path[MAX_PATH] = L"";
};

static void CloseProgramsLog(ProgramsLog &log)
{
    for (HANDLE *handle : {&log.file, &log.folder}) {
        if (*handle != INVALID_HANDLE_VALUE)
            CloseHandle(*handle);
        *handle = INVALID_HANDLE_VALUE;
    }
}

// A number from the system's random generator: a name no other user can make in advance.
static DWORD UnforeseenNumber(int attempt)
{
    typedef BOOLEAN(WINAPI * RtlGenRandomFn)(PVOID, ULONG);
    RtlGenRandomFn generate = (RtlGenRandomFn)(void *)GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "SystemFunction036");
    DWORD number = 0;
    if (generate && generate(&number, sizeof(number)))
        return number;
    return GetTickCount() ^ (GetCurrentProcessId() << 16) ^ (DWORD)attempt;
}

// Beside the package's own log when Windows Installer names one (`besideFolder`), else in a
// protected folder of the machine's Temp made for this run. False, said in the log, when none
// can be made: the program then runs without a log.
static bool MakeProgramsLog(MSIHANDLE install, const WCHAR *besideFolder, ProgramsLog &log)
{
    WCHAR folder[MAX_PATH] = L"";
    if (*besideFolder) {
        Copy(folder, besideFolder);
    } else {
        WCHAR root[MAX_PATH];
        log.folder = CreateHeldWindowsTempRoot(root);
        if (log.folder == INVALID_HANDLE_VALUE || !Format(folder, L"%s\\", root)) {
            SayFormatted(install, L"No protected folder for the programs' log could be made (error %lu); the program runs without a log.",
                         GetLastError());
            CloseProgramsLog(log);
            return false;
        }
    }
    PSECURITY_DESCRIPTOR descriptor = CreateProtectedFolderDescriptor();
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    DWORD error = descriptor ? ERROR_FILE_EXISTS : GetLastError();
    for (int attempt = 0; descriptor && attempt < 16 && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
         ++attempt) {
        if (!Format(log.path, L"%sVelmarinSetup-msi-%08lX.log", folder, UnforeseenNumber(attempt))) {
            error = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        // No delete sharing: while it is held, nobody can rename it or put another in its place.
        log.file = CreateFileW(log.path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        error = log.file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    }
    if (descriptor)
        LocalFree(descriptor);
    DWORD written = 0;
    if (log.file != INVALID_HANDLE_VALUE &&
        (!WriteFile(log.file, kLogHeader, kHeaderBytes, &written, nullptr) || written != kHeaderBytes)) {
        error = GetLastError();
        CloseHandle(log.file);
        log.file = INVALID_HANDLE_VALUE;
        DeleteFileW(log.path);
    }
    if (log.file == INVALID_HANDLE_VALUE) {
        SayFormatted(install, L"The programs' log could not be made in %s (error %lu); the program runs without a log.",
                     folder, error);
        CloseProgramsLog(log);
        return false;
    }
    return true;
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

// Copies what the program wrote after the first line into the package's log, through the handle
// held since the file was made.
static void CopyLogLines(MSIHANDLE install, const ProgramsLog &log)
{
    LARGE_INTEGER size = {}, start = {};
    start.QuadPart = kHeaderBytes;
    if (!GetFileSizeEx(log.file, &size) || size.QuadPart < start.QuadPart ||
        !SetFilePointerEx(log.file, start, nullptr, FILE_BEGIN)) {
        SayFormatted(install, L"The log %s cannot be read (error %lu).", log.path, GetLastError());
        return;
    }
    LONGLONG wanted = size.QuadPart - start.QuadPart;
    DWORD count = wanted > kMostLogCopied ? kMostLogCopied : (DWORD)wanted;
    char *text = (char *)HeapAlloc(GetProcessHeap(), 0, count + 1);
    DWORD read = 0;
    if (text && ReadFile(log.file, text, count, &read, nullptr)) {
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
}

// ---------------------------------------------------------------- running the programs

// Runs a program to its end; its exit code, or a Windows error code when it could not start. The
// program is held from its check until it has started, when what runs is what was checked: the
// uninstaller then removes its own file.
static bool RunToEnd(MSIHANDLE install, const WCHAR *program, const WCHAR *name, const WCHAR *arguments, DWORD &code)
{
    WCHAR commandLine[4096];
    if (!Format(commandLine, L"\"%s\" %s", program, arguments)) {
        Say(install, L"The command line does not fit.");
        return false;
    }
    HANDLE held = HoldPackageProgram(program, name);
    if (held == INVALID_HANDLE_VALUE) {
        SayFormatted(install, L"%s is not %s in a folder only administrators change; it does not run.", program, name + 1);
        return false;
    }
    SayFormatted(install, L"Running %s", commandLine);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                  &startup, &process);
    DWORD error = GetLastError();
    CloseHandle(held);
    if (!started) {
        SayFormatted(install, L"%s could not be started (error %lu).", program, error);
        return false;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    bool ended = GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return ended;
}

// Runs a program with a log made for it, its lines then copied into the package's log; without
// one when none can be made or the program refuses it, which it does before it changes anything.
static bool RunLogged(MSIHANDLE install, const WCHAR *program, const WCHAR *name, const WCHAR *logFolder,
                      const WCHAR *arguments, DWORD &code)
{
    ProgramsLog log;
    WCHAR line[4096];
    if (!MakeProgramsLog(install, logFolder, log))
        return RunToEnd(install, program, name, arguments, code);
    if (!WithLogOption(log.path, arguments, line, ARRAYSIZE(line))) {
        Say(install, L"The command line with the log does not fit; the program runs without a log.");
        CloseProgramsLog(log);
        return RunToEnd(install, program, name, arguments, code);
    }
    bool ran = RunToEnd(install, program, name, line, code);
    if (ran)
        CopyLogLines(install, log);
    CloseProgramsLog(log);
    if (!ran || code != kOutcomeLogRefused)
        return ran;
    Say(install, L"The program could not take the log made for it; it runs again without a log.");
    return RunToEnd(install, program, name, arguments, code);
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

// ---------------------------------------------------------------- handing over

// CustomActionData, one item a line; false, said in the log, when it does not fit.
static UINT HandOver(MSIHANDLE install, const WCHAR *action, std::initializer_list<const WCHAR *> items)
{
    WCHAR data[4096] = L"";
    size_t used = 0;
    bool first = true;
    for (const WCHAR *item : items) {
        if (!FormatText(data + used, ARRAYSIZE(data) - used, first ? L"%s" : L"\n%s", item)) {
            Say(install, L"The command line does not fit; nothing was changed.");
            return ERROR_INSTALL_FAILURE;
        }
        used += wcslen(data + used);
        first = false;
    }
    if (MsiSetPropertyW(install, action, data) != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    return ERROR_SUCCESS;
}

// The lines of CustomActionData, split in place; false when there are not `count` of them.
template <size_t N>
static bool SplitData(MSIHANDLE install, WCHAR (&data)[4096], const WCHAR *(&items)[N])
{
    if (!ReadProperty(install, L"CustomActionData", data, ARRAYSIZE(data)))
        return false;
    WCHAR *at = data;
    for (size_t i = 0; i < N; ++i) {
        items[i] = at;
        WCHAR *end = wcschr(at, L'\n');
        if (i + 1 < N && !end)
            return false;
        if (i + 1 == N && end)
            return false;
        if (end) {
            *end = 0;
            at = end + 1;
        }
    }
    return true;
}

// Where the programs' logs go: the folder of the package's log, or "" for a protected folder of
// the machine's Temp (Windows Installer names no log without /l, and Wine none at all).
static void ChooseLogFolder(MSIHANDLE install, WCHAR (&folder)[MAX_PATH])
{
    WCHAR packageLog[MAX_PATH];
    if (!ReadProperty(install, L"MsiLogFileLocation", packageLog, ARRAYSIZE(packageLog)) ||
        !FolderOfPackageLog(packageLog, folder, ARRAYSIZE(folder)))
        folder[0] = 0;
}

// The component of VelmarinSetup.exe in the package.
static const WCHAR kSetupComponent[] = L"{9A61E2D4-3B7C-4F15-8C0E-6D2A4B9F1E53}";

// What a repair or reinstallation, which any user may start, runs: the package's own setup, with
// the folder the setup's record names and the shortcut choices the package's mark keeps, all of
// which only administrators change, and nothing from its caller. False when no record names a
// folder: the browser's own uninstaller removed it, and a repair puts nothing back. `program` is
// empty, and so refused, where Windows Installer knows no installed setup.
static bool RepairCommand(const WCHAR *productCode, WCHAR (&recorded)[MAX_PATH], WCHAR (&program)[MAX_PATH],
                          WCHAR (&arguments)[2048], PackageMark &mark)
{
    if (RecordedInstallFolder(recorded) != ERROR_SUCCESS)
        return false;
    DWORD length = ARRAYSIZE(program);
    if (MsiGetComponentPathW(productCode, kSetupComponent, program, &length) != INSTALLSTATE_LOCAL)
        program[0] = 0;
    PackageProperties properties = MaintenanceProperties(recorded, ReadMark());
    mark = {true, L"", properties.desktopShortcut[0] - L'0', properties.quickLaunchShortcut[0] - L'0'};
    Copy(mark.productCode, productCode);
    return SetupArguments(properties, arguments, ARRAYSIZE(arguments));
}

static const WCHAR kNothingToRepair[] =
    L"The browser is not installed: its own uninstaller removed it, and a repair installs nothing. Remove the "
    L"package, or remove it and install it again.";

// ---------------------------------------------------------------- the actions

// Immediate, before anything changes: decides the setup's command line and prepares RunSetup. A
// first installation takes the public properties, checked; any other run (a repair, a
// reinstallation, which any user may start) takes nothing from its caller.
PACKAGE_ACTION PrepareSetup(MSIHANDLE install)
{
    WCHAR installed[64], productCode[64];
    ReadProperty(install, L"Installed", installed, ARRAYSIZE(installed));
    if (!ReadProperty(install, L"ProductCode", productCode, ARRAYSIZE(productCode)) || !IsProductCode(productCode)) {
        Say(install, L"The package's ProductCode cannot be read; nothing was installed.");
        return ERROR_INSTALL_FAILURE;
    }
    PackageMark installedMark = ReadMark();
    WCHAR recorded[MAX_PATH];
    bool hasRecord = RecordedInstallFolder(recorded) == ERROR_SUCCESS;
    WCHAR installDir[MAX_PATH + 1], desktop[16], quickLaunch[16], defaultBrowser[16], closeBrowser[16];
    PackageProperties properties = {installDir, desktop, quickLaunch, defaultBrowser, closeBrowser};
    if (installed[0]) {
        if (!hasRecord) {
            Say(install, kNothingToRepair);
            return ERROR_SUCCESS;
        }
        properties = MaintenanceProperties(recorded, installedMark);
        SayFormatted(install, L"A repair of the installed browser: the setup runs on %s, with the shortcut choices of its "
                              L"first installation; no property given to this run is used.",
                     recorded);
    } else {
        bool read = ReadProperty(install, L"INSTALLDIR", installDir, ARRAYSIZE(installDir));
        // A value too long for its buffer is read as what it is not: it is refused as empty.
        read = ReadProperty(install, L"DESKTOP_SHORTCUT", desktop, ARRAYSIZE(desktop)) && read;
        read = ReadProperty(install, L"QUICKLAUNCH_SHORTCUT", quickLaunch, ARRAYSIZE(quickLaunch)) && read;
        read = ReadProperty(install, L"DEFAULT_BROWSER", defaultBrowser, ARRAYSIZE(defaultBrowser)) && read;
        read = ReadProperty(install, L"CLOSE_BROWSER", closeBrowser, ARRAYSIZE(closeBrowser)) && read;
        WCHAR reason[512];
        if (!read) {
            Say(install, L"A property of the package is too long; nothing was installed.");
            return ERROR_INSTALL_FAILURE;
        }
        if (!CheckPackageProperties(properties, reason, ARRAYSIZE(reason))) {
            SayFormatted(install, L"%s; nothing was installed.", reason);
            return ERROR_INSTALL_FAILURE;
        }
        // Without INSTALLDIR an installed browser keeps its folder, also through an upgrade.
        if (wcscmp(installDir, kSetupChoosesFolder) == 0 && hasRecord)
            properties.installDir = recorded;
    }
    WCHAR setupFolder[MAX_PATH], program[MAX_PATH], logFolder[MAX_PATH], arguments[2048];
    DWORD length = ARRAYSIZE(setupFolder);
    if (MsiGetTargetPathW(install, L"SetupFolder", setupFolder, &length) != ERROR_SUCCESS ||
        !Format(program, L"%sVelmarinSetup.exe", setupFolder)) {
        Say(install, L"The setup program's folder is not known; nothing was installed.");
        return ERROR_INSTALL_FAILURE;
    }
    // The package's log of a repair is its caller's to place: the programs' log then goes to a
    // folder of the machine's own.
    logFolder[0] = 0;
    if (!installed[0])
        ChooseLogFolder(install, logFolder);
    if (!SetupArguments(properties, arguments, ARRAYSIZE(arguments))) {
        Say(install, L"The setup's command line does not fit; nothing was installed.");
        return ERROR_INSTALL_FAILURE;
    }
    PackageMark mark = {true, L"", properties.desktopShortcut[0] - L'0', properties.quickLaunchShortcut[0] - L'0'};
    Copy(mark.productCode, productCode);
    WCHAR markText[64];
    FormatPackageMark(mark, markText, ARRAYSIZE(markText));
    return HandOver(install, L"RunSetup", {program, logFolder, arguments, markText});
}

// Immediate: prepares RunUninstaller. The uninstaller is found when it runs, through the record
// in the machine's registry, which only administrators change.
PACKAGE_ACTION PrepareRemoval(MSIHANDLE install)
{
    WCHAR logFolder[MAX_PATH], arguments[256];
    ChooseLogFolder(install, logFolder);
    if (!UninstallerArguments(arguments, ARRAYSIZE(arguments)))
        return ERROR_INSTALL_FAILURE;
    return HandOver(install, L"RunUninstaller", {logFolder, arguments});
}

// Deferred, as the machine's account: runs the setup silently; when it installed the browser,
// the package's mark goes on the setup's entry. What it runs is checked here again, and a repair
// takes its command line again from what only administrators change: the immediate action ran
// in its caller's rights, and so did whatever set the data it handed over.
PACKAGE_ACTION RunSetup(MSIHANDLE install)
{
    if (!KeepMarkBeforeSetup(install, nullptr))
        return ERROR_INSTALL_FAILURE;
    // Windows Installer knows the product already only in a repair or a reinstallation: a first
    // installation registers it after this action.
    WCHAR productCode[64];
    bool repair = ReadProperty(install, L"ProductCode", productCode, ARRAYSIZE(productCode)) &&
                  IsProductCode(productCode) && MsiQueryProductStateW(productCode) == INSTALLSTATE_DEFAULT;
    WCHAR recorded[MAX_PATH], repairProgram[MAX_PATH], repairArguments[2048];
    PackageMark mark;
    if (repair && !RepairCommand(productCode, recorded, repairProgram, repairArguments, mark)) {
        if (!recorded[0]) {
            Say(install, kNothingToRepair);
            return ERROR_SUCCESS;
        }
        Say(install, L"The setup's command line does not fit; nothing was installed.");
        return ERROR_INSTALL_FAILURE;
    }
    WCHAR data[4096];
    const WCHAR *items[4];
    if (!SplitData(install, data, items) || (!repair && !ReadPackageMark(items[3], mark)) || !IsProductCode(productCode)) {
        Say(install, L"The setup's command line is missing.");
        return ERROR_INSTALL_FAILURE;
    }
    // The owner is this package, whatever the data names; the data gives the shortcut choices.
    mark.owned = true;
    Copy(mark.productCode, productCode);
    PackageMark before = ReadMark();
    DWORD code = 0;
    if (!RunLogged(install, repair ? repairProgram : items[0], L"\\VelmarinSetup.exe", repair ? L"" : items[1],
                   repair ? repairArguments : items[2], code))
        return ERROR_INSTALL_FAILURE;
    if (repair && code == kOutcomeNewerInstalled) {
        SayFormatted(install, L"VelmarinSetup.exe ended with %lu: a newer browser than this package's is installed, "
                              L"and the repair leaves it as it is.", code);
        return ERROR_SUCCESS;
    }
    ActionResult result = MapSetupExit(code);
    if (result.installerCode == ERROR_SUCCESS) {
        if (!KeepMarkBeforeSetup(install, &before))
            return ERROR_INSTALL_FAILURE;
        WriteMark(install, mark);
    }
    if (code == kOutcomeRecordKept)
        Say(install, L"The browser is installed, but its record is not this installation's: the uninstaller, and so the "
                     L"package's removal, may leave some of it behind (the setup's lines above say what).");
    return Conclude(install, L"VelmarinSetup.exe", code, result);
}

// Rollback of RunSetup, as the machine's account, when the installation fails after the setup ran:
// Windows Installer puts back the package that owned the browser before, or none, and this puts
// back its mark, as RunSetup kept it (none kept: this run's setup marked nothing). The browser stays
// as the setup left it; owned by no package, its own entry shows.
PACKAGE_ACTION UndoSetupOwnership(MSIHANDLE install)
{
    WCHAR productCode[64];
    PackageMark previous;
    if (!TakeMarkBeforeSetup(previous) || !ReadProperty(install, L"ProductCode", productCode, ARRAYSIZE(productCode)) ||
        !IsProductCode(productCode))
        return ERROR_SUCCESS;
    PackageMark current = ReadMark();
    bool markedByThisRun = current.owned && wcscmp(current.productCode, productCode) == 0 &&
                           !(previous.owned && wcscmp(previous.productCode, productCode) == 0);
    if (!markedByThisRun)
        return ERROR_SUCCESS;
    WriteMark(install, previous);
    Say(install, previous.owned
                     ? L"Rolled back after the setup had run: the browser stays as the setup left it, owned again by "
                       L"the package that owned it before."
                     : L"Rolled back after the setup had run: the browser stays as the setup left it, and its own "
                       L"entry shows in the list of programs.");
    return ERROR_SUCCESS;
}

// Deferred, as the machine's account: runs the installation's own uninstaller silently.
PACKAGE_ACTION RunUninstaller(MSIHANDLE install)
{
    WCHAR data[4096];
    const WCHAR *items[2];
    if (!SplitData(install, data, items)) {
        Say(install, L"The uninstaller's command line is missing.");
        return ERROR_INSTALL_FAILURE;
    }
    WCHAR folder[MAX_PATH], program[MAX_PATH];
    LONG read = RecordedInstallFolder(folder);
    if (read == ERROR_FILE_NOT_FOUND) {
        // Removed already, by its own uninstaller: the package has nothing more to take away.
        RemoveLeftEntry(install);
        Say(install, L"The browser is not installed; there is nothing to remove.");
        return ERROR_SUCCESS;
    }
    // Which package this is comes from Windows Installer, not from the data.
    WCHAR productCode[64];
    if (!ReadProperty(install, L"ProductCode", productCode, ARRAYSIZE(productCode)) || !IsProductCode(productCode)) {
        Say(install, L"The package's ProductCode cannot be read; nothing was removed.");
        return ERROR_INSTALL_FAILURE;
    }
    // A newer package took the browser over: this is that upgrade's removal of the older package,
    // which Windows tells it (UPGRADINGPRODUCTCODE) and Wine does not.
    PackageMark mark = ReadMark();
    if (mark.owned && mark.productCode[0] && wcscmp(mark.productCode, productCode) != 0) {
        SayFormatted(install, L"The browser belongs to the package %s now; it stays.", mark.productCode);
        return ERROR_SUCCESS;
    }
    if (read != ERROR_SUCCESS || !Format(program, L"%s\\UnInst.exe", folder)) {
        Say(install, L"The installation's record names no install folder; nothing was removed.");
        return ERROR_INSTALL_FAILURE;
    }
    // The uninstaller removes only the values the setup wrote, so its entry goes only without
    // the package's mark. Anything short of a whole removal (files in use stay with the entry
    // and the uninstaller) rolls the package back, which keeps its own entry, and the mark is
    // put back: the package's next removal takes the rest.
    WriteMark(install, PackageMark{});
    DWORD code = 0;
    bool ran = RunLogged(install, program, L"\\UnInst.exe", items[0], items[1], code);
    if (!ran || code != kOutcomeDone)
        WriteMark(install, mark);
    if (!ran)
        return ERROR_INSTALL_FAILURE;
    return Conclude(install, L"UnInst.exe", code, MapUninstallerExit(code));
}
