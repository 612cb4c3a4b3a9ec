#include "base/SystemEnvironment.h"
#include "base/DllSafety.h"
#include <stdlib.h>
#include <winternl.h>
#include <shlwapi.h>

namespace {

// Upper case as Windows compares environment names (the system's table, not a language's).
WCHAR Upcase(WCHAR ch)
{
    typedef WCHAR(NTAPI * UpcaseFn)(WCHAR);
    static const UpcaseFn upcase = (UpcaseFn)(void *)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlUpcaseUnicodeChar");
    return upcase ? upcase(ch) : ch >= L'a' && ch <= L'z' ? (WCHAR)(ch - L'a' + L'A') : ch;
}

// An entry's name runs to its "="; a leading "=" (the drives' current folders) belongs to it.
size_t NameLength(const WCHAR *entry)
{
    const WCHAR *equals = entry[0] ? wcschr(entry + 1, L'=') : NULL;
    return equals ? (size_t)(equals - entry) : wcslen(entry);
}

// Negative, zero or positive as name `a` sorts before, as, or after `b`.
int CompareNames(const WCHAR *a, size_t aLength, const WCHAR *b, size_t bLength)
{
    for (size_t i = 0;; ++i) {
        WCHAR x = i < aLength ? Upcase(a[i]) : 0, y = i < bLength ? Upcase(b[i]) : 0;
        if (x != y || x == 0)
            return (int)x - (int)y;
    }
}

bool StartsWith(const WCHAR *name, size_t length, const WCHAR *prefix)
{
    size_t prefixLength = wcslen(prefix);
    return length >= prefixLength && CompareNames(name, prefixLength, prefix, prefixLength) == 0;
}

// .NET's profilers and settings (COR_PROFILER_PATH names a DLL), and the compatibility layer
// Windows applies to every program started.
bool LoadsCodeIntoPrograms(const WCHAR *name, size_t length)
{
    return StartsWith(name, length, L"COR_") || StartsWith(name, length, L"CORECLR_") ||
           StartsWith(name, length, L"COMPlus_") || StartsWith(name, length, L"DOTNET_") ||
           CompareNames(name, length, L"__COMPAT_LAYER", 14) == 0;
}

struct Entry {
    const WCHAR *text;
    size_t order;  // in the block; the values set come first
};

int CompareEntries(const void *left, const void *right)
{
    const Entry &a = *(const Entry *)left, &b = *(const Entry *)right;
    int byName = CompareNames(a.text, NameLength(a.text), b.text, NameLength(b.text));
    return byName ? byName : a.order < b.order ? -1 : 1;
}

// The value of `name` in an environment block; null when it has none.
const WCHAR *ValueIn(const WCHAR *block, const WCHAR *name)
{
    size_t length = wcslen(name);
    for (const WCHAR *entry = block; *entry; entry += wcslen(entry) + 1) {
        if (CompareNames(entry, NameLength(entry), name, length) == 0)
            return entry + length + 1;
    }
    return NULL;
}

// Sets this process's environment to `block`, built anew from nothing in Windows' order, as
// SetEnvironmentStringsW does, but through ntdll, which has it from XP on and takes the drives'
// entries. An entry ntdll does not take is left out: what is left is still only what `block`
// holds. False, and nothing changed, where no environment can be made.
bool SetWholeEnvironment(const WCHAR *block)
{
    typedef LONG(NTAPI * CreateFn)(BOOLEAN, WCHAR **);
    typedef LONG(NTAPI * SetFn)(WCHAR **, UNICODE_STRING *, UNICODE_STRING *);
    typedef void(NTAPI * SetCurrentFn)(WCHAR *, WCHAR **);
    typedef LONG(NTAPI * DestroyFn)(WCHAR *);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    CreateFn create = (CreateFn)(void *)GetProcAddress(ntdll, "RtlCreateEnvironment");
    SetFn set = (SetFn)(void *)GetProcAddress(ntdll, "RtlSetEnvironmentVariable");
    SetCurrentFn setCurrent = (SetCurrentFn)(void *)GetProcAddress(ntdll, "RtlSetCurrentEnvironment");
    DestroyFn destroy = (DestroyFn)(void *)GetProcAddress(ntdll, "RtlDestroyEnvironment");
    WCHAR *made = NULL;
    if (!create || !set || !setCurrent || !destroy || create(FALSE, &made) < 0)
        return false;
    for (const WCHAR *entry = block; *entry; entry += wcslen(entry) + 1) {
        size_t nameLength = NameLength(entry), length = wcslen(entry);
        size_t valueLength = nameLength < length ? length - nameLength - 1 : 0;
        // A name or value longer than a counted string holds is no variable Windows could set.
        if (nameLength >= length || nameLength > 32766 || valueLength > 32766)
            continue;
        UNICODE_STRING name = {(USHORT)(nameLength * sizeof(WCHAR)), (USHORT)(nameLength * sizeof(WCHAR)), (WCHAR *)entry};
        UNICODE_STRING value = {(USHORT)(valueLength * sizeof(WCHAR)), (USHORT)(valueLength * sizeof(WCHAR)),
                                (WCHAR *)entry + nameLength + 1};
        set(&made, &name, &value);
    }
    // Without a place for the old environment, ntdll frees it itself.
    setCurrent(made, NULL);
    return true;
}

}  // namespace

// Expanded with this process's SystemDrive, which is the system's by then.
void ProfileListFolder(const WCHAR *name, WCHAR (&folder)[MAX_PATH])
{
    DWORD size = sizeof(folder) - sizeof(WCHAR);
    if (SHGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", name, NULL, folder,
                    &size) != ERROR_SUCCESS)
        folder[0] = 0;
    folder[MAX_PATH - 1] = 0;
    size_t length = wcslen(folder);
    while (length > 3 && folder[length - 1] == L'\\')
        folder[--length] = 0;
}

WCHAR *EnvironmentOf(HANDLE token)
{
    typedef BOOL(WINAPI * CreateBlockFn)(void **, HANDLE, BOOL);
    HMODULE userenv = LoadSystemLibrary(L"userenv.dll");
    CreateBlockFn create = userenv ? (CreateBlockFn)(void *)GetProcAddress(userenv, "CreateEnvironmentBlock") : NULL;
    void *block = NULL;
    return create && create(&block, token, FALSE) ? (WCHAR *)block : NULL;
}

void FreeEnvironmentOf(WCHAR *block)
{
    typedef BOOL(WINAPI * DestroyBlockFn)(void *);
    HMODULE userenv = block ? GetModuleHandleW(L"userenv.dll") : NULL;
    DestroyBlockFn destroy = userenv ? (DestroyBlockFn)(void *)GetProcAddress(userenv, "DestroyEnvironmentBlock") : NULL;
    if (destroy)
        destroy(block);
}

WCHAR *EditedEnvironment(const WCHAR *block, const EnvironmentValue *values, size_t count)
{
    size_t entries = 0, chars = 1;
    for (const WCHAR *entry = block; *entry; entry += wcslen(entry) + 1, ++entries)
        chars += wcslen(entry) + 1;
    for (size_t i = 0; i < count; ++i)
        chars += values[i].value ? wcslen(values[i].name) + wcslen(values[i].value) + 2 : 0;
    Entry *sorted = (Entry *)HeapAlloc(GetProcessHeap(), 0, (entries + count) * sizeof(Entry));
    WCHAR *result = (WCHAR *)HeapAlloc(GetProcessHeap(), 0, (2 * chars + 1) * sizeof(WCHAR));
    if (!sorted || !result) {
        if (sorted)
            HeapFree(GetProcessHeap(), 0, sorted);
        if (result)
            HeapFree(GetProcessHeap(), 0, result);
        return NULL;
    }
    // The values set are written out first, in the second half of the result; the block's own
    // entries of those names are left out.
    WCHAR *made = result + chars;
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        if (values[i].value) {
            sorted[kept].text = made;
            sorted[kept].order = kept;
            ++kept;
            size_t nameLength = wcslen(values[i].name), valueLength = wcslen(values[i].value);
            memcpy(made, values[i].name, nameLength * sizeof(WCHAR));
            made[nameLength] = L'=';
            memcpy(made + nameLength + 1, values[i].value, (valueLength + 1) * sizeof(WCHAR));
            made += nameLength + valueLength + 2;
        }
    }
    size_t order = count;
    for (const WCHAR *entry = block; *entry; entry += wcslen(entry) + 1) {
        size_t length = NameLength(entry);
        bool set = false;
        for (size_t i = 0; i < count; ++i)
            set = set || CompareNames(entry, length, values[i].name, wcslen(values[i].name)) == 0;
        // An entry without a value is no variable, and makes Windows refuse the whole block.
        if (!set && entry[length] == L'=' && !LoadsCodeIntoPrograms(entry, length)) {
            sorted[kept].text = entry;
            sorted[kept++].order = order++;
        }
    }
    qsort(sorted, kept, sizeof(Entry), CompareEntries);
    WCHAR *to = result;
    for (size_t i = 0; i < kept; ++i) {
        const WCHAR *entry = sorted[i].text;
        if (i > 0 && CompareNames(entry, NameLength(entry), sorted[i - 1].text, NameLength(sorted[i - 1].text)) == 0)
            continue;
        size_t length = wcslen(entry) + 1;
        memmove(to, entry, length * sizeof(WCHAR));
        to += length;
    }
    to[0] = to[1] = 0;  // an empty block too ends in two
    HeapFree(GetProcessHeap(), 0, sorted);
    return result;
}

bool UseTheSystemsOwnVariables()
{
    WCHAR windows[MAX_PATH] = L"", drive[3] = L"";
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        lstrcpynW(drive, windows, 3);
    // The system's block is expanded with this process's SystemRoot: it is set first.
    const EnvironmentValue windowsFolder[] = {
        {L"SystemRoot", windows[0] ? windows : NULL}, {L"windir", windows[0] ? windows : NULL}, {L"SystemDrive", drive[0] ? drive : NULL}};
    for (const EnvironmentValue &value : windowsFolder)
        SetEnvironmentVariableW(value.name, value.value);
    // This program is 32-bit: on 64-bit Windows (whose system has the "(x86)" folders) it is told
    // the 32-bit folders as its Program Files. Each name is taken from the second where it has one.
#ifdef _WIN64
    const WCHAR *const programFiles = NULL, *const commonProgramFiles = NULL;
#else
    const WCHAR *const programFiles = L"ProgramFiles(x86)", *const commonProgramFiles = L"CommonProgramFiles(x86)";
#endif
    const WCHAR *const fromSystem[][2] = {
        {L"ComSpec", NULL},
        {L"Path", NULL},
        {L"PATHEXT", NULL},
        {L"ProgramFiles", programFiles},
        {L"ProgramFiles(x86)", NULL},
        {L"ProgramW6432", NULL},
        {L"CommonProgramFiles", commonProgramFiles},
        {L"CommonProgramFiles(x86)", NULL},
        {L"CommonProgramW6432", NULL},
    };
    const size_t kFromSystem = sizeof(fromSystem) / sizeof(fromSystem[0]), kValues = kFromSystem + 6;
    WCHAR *system = EnvironmentOf(NULL);
    // The shared folders, which the shell's all-users folders are made of, as the system lists
    // them (userenv's block for no user gives Wine's other ones); on XP, which lists neither,
    // ALLUSERSPROFILE as the block gives it.
    WCHAR programData[MAX_PATH] = L"", publicFolder[MAX_PATH] = L"";
    ProfileListFolder(L"ProgramData", programData);
    ProfileListFolder(L"Public", publicFolder);
    const WCHAR *allUsers = programData[0] ? programData : system ? ValueIn(system, L"ALLUSERSPROFILE") : NULL;
    EnvironmentValue values[kValues] = {windowsFolder[0], windowsFolder[1], windowsFolder[2],
                                        {L"ProgramData", programData[0] ? programData : NULL},
                                        {L"PUBLIC", publicFolder[0] ? publicFolder : NULL},
                                        {L"ALLUSERSPROFILE", allUsers}};
    for (size_t i = 0; i < kFromSystem; ++i) {
        const WCHAR *value = system && fromSystem[i][1] ? ValueIn(system, fromSystem[i][1]) : NULL;
        values[6 + i] = {fromSystem[i][0], value || !system ? value : ValueIn(system, fromSystem[i][0])};
    }
    // Set whole: a block not in Windows' order (one the user made) can hide a second entry of a
    // name from SetEnvironmentVariableW, which looks no further than where the name would sort.
    WCHAR *current = GetEnvironmentStringsW();
    WCHAR *edited = current ? EditedEnvironment(current, values, kValues) : NULL;
    if (current)
        FreeEnvironmentStringsW(current);
    bool set = edited && SetWholeEnvironment(edited);
    if (edited)
        HeapFree(GetProcessHeap(), 0, edited);
    FreeEnvironmentOf(system);
    return set;
}
