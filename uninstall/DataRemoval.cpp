#include "uninstall/DataRemoval.h"
#include "base/Format.h"
#include "base/FolderSecurity.h"
#include "engine/payload/Payload.h"
#include "engine/process/Process.h"
#include "engine/payload/TempFolder.h"
#include "engine/removal/Uninstall.h"
#include "resource.h"
#include <objbase.h>
#include <sddl.h>

// How long the helper may take: it removes a folder in the user's profile, which is quick; the
// limit is for a helper the shell never started.
static const DWORD kHelperWait = 120000;

// The user of a process's token, into `sid`.
static bool ProcessUser(HANDLE process, BYTE (&sid)[SECURITY_MAX_SID_SIZE])
{
    HANDLE token = NULL;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return false;
    DWORD_PTR buffer[(sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE) / sizeof(DWORD_PTR) + 1];
    DWORD size = 0;
    bool read = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) &&
                CopySid(SECURITY_MAX_SID_SIZE, sid, ((TOKEN_USER *)buffer)->User.Sid);
    CloseHandle(token);
    return read;
}

// The user the desktop shell runs as: the user of the process of the shell's window.
static bool DesktopShellUser(BYTE (&sid)[SECURITY_MAX_SID_SIZE])
{
    // The removal runs on a thread of its own, which has to join COM to reach the shell.
    HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    HWND shell = DesktopShellWindow();
    if (SUCCEEDED(com))
        CoUninitialize();
    DWORD id = 0;
    if (!shell || !GetWindowThreadProcessId(shell, &id) || !id)
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!process)  // before Vista
        process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id);
    // Held open, the process keeps its id: a window still of that id is still the shell's.
    DWORD stillId = 0;
    bool read = process && GetWindowThreadProcessId(shell, &stillId) && stillId == id && ProcessUser(process, sid);
    if (process)
        CloseHandle(process);
    return read;
}

// The elevated half of a split token: what this process may do, the desktop shell the same user
// works in may not.
static bool ElevatedSplitToken()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    bool full = GetTokenInformation(token, TokenElevationType, &type, sizeof(type), &size) &&
                type == TokenElevationTypeFull;
    CloseHandle(token);
    return full;
}

// An event the helper, running as the desktop's (unelevated) user `helperUser`, may set but not
// take over; nobody else but the system and administrators may touch it.
static HANDLE CreateHelperEvent(const WCHAR *name, PSID helperUser)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    WCHAR *user = NULL, sddl[256];
    // 0x100002: SYNCHRONIZE | EVENT_MODIFY_STATE.
    bool made = helperUser && ConvertSidToStringSidW(helperUser, &user) &&
                Format(sddl, L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100002;;;%s)", user) &&
                ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, NULL);
    if (user)
        LocalFree(user);
    if (!made)
        return NULL;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    HANDLE event = CreateEventW(&attributes, TRUE, FALSE, name);
    // A name that existed already was someone else's: his event could lie about the result.
    if (event && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(event);
        event = NULL;
    }
    LocalFree(descriptor);
    return event;
}

// Writes the helper into a fresh folder below the Windows folder's Temp that only administrators
// can change and every user can read and run, and starts it through the shell. True when it
// reported the data gone.
static bool RunHelperAsDesktopUser(const WCHAR *installDir, PSID desktopUser)
{
    WCHAR root[MAX_PATH], folder[MAX_PATH], helper[MAX_PATH];
    if (!CreateFreshWindowsTempRoot(root))
        return false;
    HANDLE rootLock = LockFolder(root);
    PSECURITY_DESCRIPTOR descriptor = CreateInstallFolderDescriptor();
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    bool written = descriptor && Format(folder, L"%s\\user", root) && CreateDirectoryW(folder, &attributes) &&
                   Format(helper, L"%s\\UnInstData.exe", folder) &&
                   WriteResourceToFile(helper, L"BIN", MAKEINTRESOURCEW(IDB_DATA_HELPER));
    if (descriptor)
        LocalFree(descriptor);

    bool gone = false, ended = false;
    WCHAR name[64], goneName[80], keptName[80], arguments[MAX_PATH + 100];
    Format(name, L"Local\\VelmarinUserData-%lu-%lu", GetCurrentProcessId(), GetTickCount());
    Format(goneName, L"%s-gone", name);
    Format(keptName, L"%s-kept", name);
    HANDLE events[2] = {CreateHelperEvent(goneName, desktopUser), CreateHelperEvent(keptName, desktopUser)};
    // A drive root's backslash is doubled before the closing quote, or it would escape the quote.
    size_t length = wcslen(installDir);
    const WCHAR *doubled = length && installDir[length - 1] == L'\\' ? L"\\" : L"";
    // The removal runs on a thread of its own, which has to join COM to reach the shell.
    HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    bool started = written && events[0] && events[1] &&
                   Format(arguments, L"\"%s%s\" %s", installDir, doubled, name) &&
                   ShellExecuteAsDesktopUser(helper, arguments, folder, SW_HIDE);
    if (SUCCEEDED(com))
        CoUninitialize();
    if (started) {
        DWORD result = WaitForMultipleObjects(2, events, FALSE, kHelperWait);
        gone = result == WAIT_OBJECT_0;
        ended = result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 1;
    }
    for (HANDLE event : events) {
        if (event)
            CloseHandle(event);
    }
    if (rootLock != INVALID_HANDLE_VALUE)
        CloseHandle(rootLock);
    // The helper ends just after it answers, and its file can go once it has. One that never
    // answered may still be starting: its file goes at the next restart.
    for (int attempt = 0; ended && attempt < 50 && GetFileAttributesW(root) != INVALID_FILE_ATTRIBUTES; ++attempt) {
        RemoveTreeNow(root);
        Sleep(100);
    }
    RemoveTreeOrScheduleAtRestart(root);
    return gone;
}

DataOutcome RemoveUserBrowserData(const WCHAR *iniPath, const WCHAR *dataDir, const WCHAR *installDir)
{
    BYTE self[SECURITY_MAX_SID_SIZE], desktopUser[SECURITY_MAX_SID_SIZE];
    bool selfRead = ProcessUser(GetCurrentProcess(), self), shellRead = DesktopShellUser(desktopUser);
    switch (ChooseDataRemovalRoad(selfRead ? self : NULL, shellRead ? desktopUser : NULL, ElevatedSplitToken())) {
    case kDataRemovedHere:
        return RemoveBrowserData(iniPath, dataDir, installDir) ? kDataGone : kDataKept;
    case kDataRemovedByHelper:
        return RunHelperAsDesktopUser(installDir, (PSID)desktopUser) ? kDataGone : kDataKept;
    case kDataRemovedByNobody:
        break;
    }
    return kDataNoDesktopUser;
}
