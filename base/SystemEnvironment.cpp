#include "base/SystemEnvironment.h"
#include "base/DllSafety.h"
#include "base/Format.h"

namespace {

// The system sets these for every user; a user's own value for them is ignored.
const WCHAR *const kSystemsOwn[] = {L"ComSpec",     L"Path",           L"PATHEXT",
                                    L"ProgramW6432", L"CommonProgramW6432"};

// The value of `name` in an environment block; null when it has none.
const WCHAR *ValueIn(const WCHAR *block, const WCHAR *name)
{
    size_t length = wcslen(name);
    for (const WCHAR *entry = block; *entry; entry += wcslen(entry) + 1) {
        if (wcslen(entry) > length && entry[length] == L'=' && CompareStringOrdinal(entry, (int)length, name, (int)length, TRUE) == CSTR_EQUAL)
            return entry + length + 1;
    }
    return NULL;
}

// The system's own variables, without any user's: userenv's block for no one. Null where it
// cannot be had; DestroySystemsBlock frees it.
typedef BOOL(WINAPI *CreateBlockFn)(void **, HANDLE, BOOL);
typedef BOOL(WINAPI *DestroyBlockFn)(void *);

void *SystemsBlock(DestroyBlockFn &destroy)
{
    HMODULE userenv = LoadSystemLibrary(L"userenv.dll");
    CreateBlockFn create = userenv ? (CreateBlockFn)(void *)GetProcAddress(userenv, "CreateEnvironmentBlock") : NULL;
    destroy = userenv ? (DestroyBlockFn)(void *)GetProcAddress(userenv, "DestroyEnvironmentBlock") : NULL;
    void *block = NULL;
    if (!create || !destroy || !create(&block, NULL, FALSE))
        return NULL;
    return block;
}

// Drops every variable that loads code; names are collected first, as dropping changes the block.
void DropCodeLoadingVariables()
{
    WCHAR *current = GetEnvironmentStringsW();
    if (!current)
        return;
    for (WCHAR *entry = current; *entry; entry += wcslen(entry) + 1) {
        WCHAR *equals = wcschr(entry + 1, L'=');
        if (equals && LoadsCodeIntoPrograms(entry, equals - entry)) {
            *equals = 0;
            SetEnvironmentVariableW(entry, NULL);
            *equals = L'=';
        }
    }
    FreeEnvironmentStringsW(current);
}

}  // namespace

bool LoadsCodeIntoPrograms(const WCHAR *name, size_t length)
{
    // .NET's profilers and settings (COR_PROFILER_PATH names a DLL), and the compatibility layer
    // Windows applies to every program started.
    static const WCHAR *const kPrefixes[] = {L"COR_", L"CORECLR_", L"COMPlus_", L"DOTNET_"};
    for (const WCHAR *prefix : kPrefixes) {
        size_t prefixLength = wcslen(prefix);
        if (length >= prefixLength &&
            CompareStringOrdinal(name, (int)prefixLength, prefix, (int)prefixLength, TRUE) == CSTR_EQUAL)
            return true;
    }
    return length == 14 && CompareStringOrdinal(name, 14, L"__COMPAT_LAYER", 14, TRUE) == CSTR_EQUAL;
}

void UseTheSystemsOwnVariables()
{
    DropCodeLoadingVariables();
    WCHAR windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        SetEnvironmentVariableW(L"SystemRoot", windows);
        SetEnvironmentVariableW(L"windir", windows);
        windows[2] = 0;
        SetEnvironmentVariableW(L"SystemDrive", windows);
    }
    DestroyBlockFn destroy = NULL;
    void *system = SystemsBlock(destroy);
    for (const WCHAR *name : kSystemsOwn)
        SetEnvironmentVariableW(name, system ? ValueIn((const WCHAR *)system, name) : NULL);
    if (system)
        destroy(system);
}
