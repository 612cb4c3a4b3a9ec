#include "base/DllSafety.h"
#include "base/Format.h"

void RestrictDllSearchToSystem()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    // Present from Windows 8 on, and on Windows 7 with KB2533623.
    SetDefaultDllDirectoriesFn setDefault =
        (SetDefaultDllDirectoriesFn)(void *)GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (setDefault)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
}

void EnableDataExecutionPrevention()
{
    typedef BOOL(WINAPI * SetPolicyFn)(DWORD);
    SetPolicyFn setPolicy = (SetPolicyFn)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetProcessDEPPolicy");
    // PROCESS_DEP_ENABLE; a 64-bit process has it always, and says no.
    if (setPolicy)
        setPolicy(0x00000001);
}

HMODULE LoadSystemLibrary(const WCHAR *fileName)
{
    WCHAR systemDir[MAX_PATH];
    UINT len = GetSystemDirectoryW(systemDir, MAX_PATH);
    if (len == 0 || len >= MAX_PATH)
        return NULL;
    WCHAR path[MAX_PATH];
    if (!Format(path, L"%s\\%s", systemDir, fileName))
        return NULL;
    return LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

namespace {

typedef BSTR(WINAPI *SysAllocStringFn)(const OLECHAR *);
typedef void(WINAPI *SysFreeStringFn)(BSTR);

struct BstrApi {
    SysAllocStringFn allocate;
    SysFreeStringFn free;
};

const BstrApi &Bstr()
{
    static BstrApi api;
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        HMODULE module = LoadSystemLibrary(L"oleaut32.dll");
        if (module) {
            api.allocate = (SysAllocStringFn)(void *)GetProcAddress(module, "SysAllocString");
            api.free = (SysFreeStringFn)(void *)GetProcAddress(module, "SysFreeString");
        }
    }
    return api;
}

}

BSTR AllocateBstr(const WCHAR *text)
{
    const BstrApi &api = Bstr();
    return api.allocate && api.free && text ? api.allocate(text) : NULL;
}

void FreeBstr(BSTR text)
{
    if (text && Bstr().free)
        Bstr().free(text);
}
