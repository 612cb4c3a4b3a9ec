// The setup and the uninstaller run elevated with the environment of the user who started them,
// which he can change without elevation (HKCU\Environment, or starting them himself with any
// block): a Path, windir or ProgramFiles of his steers where programs, DLLs, COM servers and
// system files are looked for, and some variables load code into any program started (.NET
// profilers, compatibility layers).
#pragma once
#include <windows.h>

struct EnvironmentValue {
    const WCHAR *name;
    const WCHAR *value;  // null: the variable goes
};

// The environment block `block` (as GetEnvironmentStringsW gives it) with each of `values` set,
// the variables that load code into programs removed, and each name once (with the value a
// lookup finds, the first), in the order by upper-case name that Windows keeps and relies on,
// however `block` was ordered. HeapFree it; null when no memory could be had.
WCHAR *EditedEnvironment(const WCHAR *block, const EnvironmentValue *values, size_t count);

// The environment Windows gives programs of `token`'s user (his own variables and the
// system's), or of nobody, the system's alone, for a null token. Null when it cannot be had;
// FreeEnvironmentOf frees it.
WCHAR *EnvironmentOf(HANDLE token);
void FreeEnvironmentOf(WCHAR *block);

// Before anything else at start-up: this process's environment as EditedEnvironment makes it,
// with the variables that say where the system and its programs are taken from the system
// (removed where the system sets none). The rest (the user's folders, names, anything the
// system does not set) stays. False when no such environment could be made (no memory): the
// program must not go on elevated with the user's.
bool UseTheSystemsOwnVariables();

// A folder the system's list of profiles names ("ProfilesDirectory", the folder every user's
// profile lies in, which only administrators may change; "Public"; "ProgramData"), expanded with
// this process's SystemDrive, without a trailing backslash; empty where it names none.
void ProfileListFolder(const WCHAR *name, WCHAR (&folder)[MAX_PATH]);
