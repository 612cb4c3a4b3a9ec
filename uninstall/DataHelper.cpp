// UnInstData.exe, the uninstaller's helper for the browsing data. The elevated uninstaller has
// the desktop shell start it, so that it runs as the signed-in user with that user's own rights,
// and removes that user's data, not the administrator's whose password was typed:
//     UnInstData.exe <install folder> <event name>
// It sets the event "<event name>-gone" when the data is gone, "<event name>-kept" when some of
// it stayed, and exits with 0 or 1 accordingly; 2 for a wrong command line.
#include "base/DllSafety.h"
#include "base/Format.h"
#include "engine/removal/Uninstall.h"
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    RestrictDllSearchToSystem();
    SetErrorMode(SEM_FAILCRITICALERRORS);
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    WCHAR installDir[MAX_PATH], eventName[80];
    bool valid = argv && argc == 3 && argv[1][0] && Copy(installDir, argv[1]) && Copy(eventName, argv[2]);
    LocalFree(argv);
    if (!valid)
        return 2;
    WCHAR dataDir[MAX_PATH], iniPath[MAX_PATH];
    bool gone = UserDataFolder(dataDir) && Format(iniPath, L"%s\\Velmarin.ini", dataDir) &&
                RemoveBrowserData(iniPath, dataDir, installDir);
    WCHAR answer[100];
    if (Format(answer, L"%s-%s", eventName, gone ? L"gone" : L"kept")) {
        HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, answer);
        if (event) {
            SetEvent(event);
            CloseHandle(event);
        }
    }
    return gone ? 0 : 1;
}
