#include "base/SystemEnvironment.h"
#include "base/DllSafety.h"
#include "base/Format.h"
#include <stdlib.h>

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

// Negative, zero or positive as name `a` sorts before, as, or after `b`; a leading "=" first.
int CompareNames(const WCHAR *a, size_t aLength, const WCHAR *b, size_t bLength)
{
    for (size_t i = 0;; ++i) {
        WCHAR x = i < aLength ? (i == 0 && a[0] == L'=' ? 1 : Upcase(a[i])) : 0;
        WCHAR y = i < bLength ? (i == 0 && b[0] == L'=' ? 1 : Upcase(b[i])) : 0;
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

// The system's own variables, without any user's: userenv's block for no one. Null where it
// cannot be had; `destroy` frees it.
typedef BOOL(WINAPI *CreateBlockFn)(void **, HANDLE, BOOL);
typedef BOOL(WINAPI *DestroyBlockFn)(void *);

const WCHAR *SystemsBlock(DestroyBlockFn &destroy)
{
    HMODULE userenv = LoadSystemLibrary(L"userenv.dll");
    CreateBlockFn create = userenv ? (CreateBlockFn)(void *)GetProcAddress(userenv, "CreateEnvironmentBlock") : NULL;
    destroy = userenv ? (DestroyBlockFn)(void *)GetProcAddress(userenv, "DestroyEnvironmentBlock") : NULL;
    void *block = NULL;
    return create && destroy && create(&block, NULL, FALSE) ? (const WCHAR *)block : NULL;
}

}  // namespace

WCHAR *EditedEnvironment(const WCHAR *block, const EnvironmentValue *values, size_t count)
{
    size_t entries = 0, chars = 1;
    for (const WCHAR *entry = block; *entry; entry += wcslen(entry) + 1, ++entries)
        chars += wcslen(entry) + 1;
    for (size_t i = 0; i < count; ++i)
        chars += values[i].value ? wcslen(values[i].name) + wcslen(values[i].value) + 2 : 0;
    Entry *sorted = (Entry *)HeapAlloc(GetProcessHeap(), 0, (entries + count) * sizeof(Entry) + 1);
    WCHAR *result = (WCHAR *)HeapAlloc(GetProcessHeap(), 0, 2 * chars * sizeof(WCHAR));
    if (!sorted || !result) {
        if (sorted)
            HeapFree(GetProcessHeap(), 0, sorted);
        if (result)
            HeapFree(GetProcessHeap(), 0, result);
        return NULL;
    }
    // The values set are written out first, in the second half of the result, and sort ahead of
    // the block's entries of the same name, which then go as repeats.
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
        if (!set && !LoadsCodeIntoPrograms(entry, length)) {
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
    *to = 0;
    HeapFree(GetProcessHeap(), 0, sorted);
    return result;
}

void UseTheSystemsOwnVariables()
{
    WCHAR windows[MAX_PATH] = L"", drive[3] = L"";
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        lstrcpynW(drive, windows, 3);
    // This program is 32-bit: on 64-bit Windows (whose system has the "(x86)" folders) it is told
    // the 32-bit folders as its Program Files. Each name is taken from the second where it has one.
    const WCHAR *const fromSystem[][2] = {
        {L"ComSpec", NULL},
        {L"Path", NULL},
        {L"PATHEXT", NULL},
        {L"ProgramFiles", L"ProgramFiles(x86)"},
        {L"ProgramFiles(x86)", NULL},
        {L"ProgramW6432", NULL},
        {L"CommonProgramFiles", L"CommonProgramFiles(x86)"},
        {L"CommonProgramFiles(x86)", NULL},
        {L"CommonProgramW6432", NULL},
    };
    const size_t kFromSystem = sizeof(fromSystem) / sizeof(fromSystem[0]);
    DestroyBlockFn destroy = NULL;
    const WCHAR *system = SystemsBlock(destroy);
    EnvironmentValue values[kFromSystem + 3] = {
        {L"SystemRoot", windows[0] ? windows : NULL}, {L"windir", windows[0] ? windows : NULL}, {L"SystemDrive", drive[0] ? drive : NULL}};
    for (size_t i = 0; i < kFromSystem; ++i) {
        const WCHAR *value = system && fromSystem[i][1] ? ValueIn(system, fromSystem[i][1]) : NULL;
        values[3 + i] = {fromSystem[i][0], value || !system ? value : ValueIn(system, fromSystem[i][0])};
    }

    WCHAR *current = GetEnvironmentStringsW();
    WCHAR *edited = current ? EditedEnvironment(current, values, kFromSystem + 3) : NULL;
    // Set whole: a block not in Windows' order (one the user made) can hide a second entry of a
    // name from SetEnvironmentVariableW, which looks no further than where the name would sort.
    typedef BOOL(WINAPI * SetStringsFn)(WCHAR *);
    SetStringsFn setStrings = (SetStringsFn)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetEnvironmentStringsW");
    if (!edited || !setStrings || !setStrings(edited)) {
        for (const EnvironmentValue &value : values)
            SetEnvironmentVariableW(value.name, value.value);
        for (WCHAR *entry = current; entry && *entry; entry += wcslen(entry) + 1) {
            size_t length = NameLength(entry);
            if (entry[length] == L'=' && LoadsCodeIntoPrograms(entry, length)) {
                entry[length] = 0;
                SetEnvironmentVariableW(entry, NULL);
                entry[length] = L'=';
            }
        }
    }
    if (edited)
        HeapFree(GetProcessHeap(), 0, edited);
    if (current)
        FreeEnvironmentStringsW(current);
    if (system)
        destroy((void *)system);
}
