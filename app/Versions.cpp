#include "app/Versions.h"
#include "base/DllSafety.h"
#include "base/Format.h"
#include "engine/Product.h"
#include "engine/payload/PayloadManifest.h"
#include <shlwapi.h>

const WCHAR *SetupVersion()
{
    return CPayloadManifest::Instance().Version();
}

static const WCHAR *SkipSpaces(const WCHAR *text)
{
    while (*text == L' ' || *text == L'\t')
        ++text;
    return text;
}

bool ParseVersion(const WCHAR *text, BrowserVersion &version)
{
    for (DWORD &part : version.parts)
        part = 0;
    if (!text)
        return false;
    const WCHAR *at = SkipSpaces(text);
    for (int index = 0; index < 4; ++index) {
        int digits = 0;
        DWORD value = 0;
        while (*at >= L'0' && *at <= L'9') {
            // Five digits hold every 16-bit part a version resource can carry.
            if (++digits > 5)
                return false;
            value = value * 10 + (DWORD)(*at - L'0');
            ++at;
        }
        if (digits == 0)
            return false;
        version.parts[index] = value;
        if (*at != L'.')
            break;
        if (index == 3)
            return false;
        ++at;
    }
    return *SkipSpaces(at) == 0;
}

int CompareVersions(const BrowserVersion &a, const BrowserVersion &b)
{
    for (int index = 0; index < 4; ++index) {
        if (a.parts[index] != b.parts[index])
            return a.parts[index] < b.parts[index] ? -1 : 1;
    }
    return 0;
}

int InstallationState(bool installed, const WCHAR *installedVersion, const WCHAR *setupVersion)
{
    if (!installed)
        return kStateFresh;
    BrowserVersion installedParts, setupParts;
    if (!ParseVersion(installedVersion, installedParts) || !ParseVersion(setupVersion, setupParts))
        return kStateOlderInstalled;
    int order = CompareVersions(installedParts, setupParts);
    if (order > 0)
        return kStateNewerInstalled;
    return order == 0 ? kStateSameInstalled : kStateOlderInstalled;
}

FirstPageKind FirstPageForState(int state)
{
    if (state == kStateFresh)
        return kFirstWelcome;
    return state == kStateNewerInstalled ? kFirstDowngrade : kFirstUpgrade;
}

namespace {

typedef DWORD(WINAPI *GetFileVersionInfoSizeFn)(LPCWSTR, LPDWORD);
typedef BOOL(WINAPI *GetFileVersionInfoFn)(LPCWSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI *VerQueryValueFn)(LPCVOID, LPCWSTR, LPVOID *, PUINT);

// The fixed file version of an executable's version resource.
bool ReadFileVersion(const WCHAR *path, WCHAR (&version)[64])
{
    // By full path from the system folder: a version.dll beside the setup is never loaded.
    HMODULE module = LoadSystemLibrary(L"version.dll");
    if (!module)
        return false;
    GetFileVersionInfoSizeFn getSize =
        (GetFileVersionInfoSizeFn)(void *)GetProcAddress(module, "GetFileVersionInfoSizeW");
    GetFileVersionInfoFn getInfo = (GetFileVersionInfoFn)(void *)GetProcAddress(module, "GetFileVersionInfoW");
    VerQueryValueFn query = (VerQueryValueFn)(void *)GetProcAddress(module, "VerQueryValueW");
    bool found = false;
    DWORD ignored = 0;
    DWORD size = getSize && getInfo && query ? getSize(path, &ignored) : 0;
    void *block = size ? HeapAlloc(GetProcessHeap(), 0, size) : NULL;
    if (block && getInfo(path, 0, size, block)) {
        VS_FIXEDFILEINFO *info = NULL;
        UINT length = 0;
        if (query(block, L"\\", (void **)&info, &length) && info && length >= sizeof(VS_FIXEDFILEINFO) &&
            info->dwSignature == VS_FFI_SIGNATURE) {
            found = Format(version, L"%u.%u.%u.%u", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                           HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
        }
    }
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
    FreeLibrary(module);
    return found;
}

}

bool ReadInstalledVersion(const WCHAR *browserPath, WCHAR (&version)[64])
{
    version[0] = 0;
    if (ReadFileVersion(browserPath, version))
        return true;
    DWORD type = 0;
    DWORD size = sizeof(version) - sizeof(WCHAR);
    WCHAR value[64] = {};
    if (SHGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion", &type, value, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    return Copy(version, value);
}
