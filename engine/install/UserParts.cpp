// Each user's own parts of an installation (the links bar, the quick-launch link, the ini edits
// in his profile) at his next logon: the program that makes them, put in the install folder
// with the browser's files, and the Active Setup component that has Windows run it, once a
// version, as each user.
#include "app/InstallOptions.h"
#include "app/Versions.h"
#include "base/Format.h"
#include "base/SetupLog.h"
#include "base/SetupText.h"
#include "engine/payload/Payload.h"
#include "engine/payload/PayloadManifest.h"
#include "engine/process/Process.h"
#include "engine/Product.h"
#include "resource.h"

bool CInstallOptions::PlaceUserPartsProgram(ManifestFile &placed)
{
    // Beside the browser's files, where nobody but administrators writes: the update takes it in
    // with them. Its size and SHA-256 are read back from the file held as the resource has it.
    WCHAR path[MAX_PATH];
    const void *bytes = NULL;
    DWORD size = 0;
    if (!Format(path, L"%s%s", m_strExtractDir, kUserPartsProgram) || !Copy(placed.relative, kUserPartsProgram) ||
        !FindResourceBytes(L"BIN", MAKEINTRESOURCEW(IDB_USER_PARTS), bytes, size))
        return false;
    if (!WriteResourceToFile(path, L"BIN", MAKEINTRESOURCEW(IDB_USER_PARTS)) && GetLastError() != ERROR_FILE_EXISTS)
        return false;
    HANDLE held = HoldFileWithContents(path, bytes, size);
    if (held == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER start = {};
    bool hashed = SetFilePointerEx(held, start, NULL, FILE_BEGIN) && HashOpenFile(held, placed.size, placed.sha256);
    CloseHandle(held);
    return hashed;
}

// Windows' form of a version for Active Setup: "3,2,0,1021" for "3.2.0.1021".
static void ActiveSetupVersion(WCHAR (&version)[32])
{
    if (!Copy(version, SetupVersion()))
        version[0] = 0;
    for (WCHAR *at = version; *at; ++at) {
        if (*at == L'.')
            *at = L',';
    }
}

void CInstallOptions::RegisterUserParts()
{
    const HKEY hklm = HKEY_LOCAL_MACHINE;
    WCHAR version[32], value[2 * MAX_PATH];
    ActiveSetupVersion(version);
    WriteRecordedString(hklm, kActiveSetupKey, L"", kProductDisplayName);
    WriteRecordedString(hklm, kActiveSetupKey, L"ComponentID", L"Velmarin");
    WriteRecordedString(hklm, kActiveSetupKey, L"Version", version);
    // Windows runs it as each user's command line: quoted; the choice every user shares with it.
    Format(value, L"\"%s%s\" /QuickLaunchShortcut=%d", m_strInstallDir, kUserPartsProgram, m_bQuickLaunch ? 1 : 0);
    WriteRecordedString(hklm, kActiveSetupKey, L"StubPath", value);
    WriteRecordedDword(hklm, kActiveSetupKey, L"IsInstalled", 1);
}

void CInstallOptions::MarkUserPartsDone()
{
    // The account's own key, written with its own rights: his unelevated programs may change
    // what lies in it.
    HANDLE ownAccount = OwnAccountToken();
    CThreadToken rights(ownAccount);
    HKEY user = NULL, component = NULL;
    WCHAR version[32];
    ActiveSetupVersion(version);
    bool marked = rights.Acting() && RegOpenCurrentUser(KEY_CREATE_SUB_KEY | KEY_SET_VALUE, &user) == ERROR_SUCCESS &&
                  RegCreateKeyExW(user, kActiveSetupKey, 0, NULL, 0, KEY_SET_VALUE, NULL, &component, NULL) == ERROR_SUCCESS &&
                  RegSetValueExW(component, L"Version", 0, REG_SZ, (const BYTE *)version,
                                 (DWORD)((wcslen(version) + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
    if (component)
        RegCloseKey(component);
    if (user)
        RegCloseKey(user);
    if (!marked)
        LogStep(L"未能标记本帐户已创建自己的部分：下次登录时将再次创建");
}

