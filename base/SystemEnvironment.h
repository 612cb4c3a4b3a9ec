// The setup and the uninstaller run elevated with the environment of the user who started them,
// which he can change without elevation (HKCU\Environment, or starting them himself): a Path
// or windir of his steers where programs, DLLs and system files are looked for, and some
// variables load code into any program started (.NET profilers, compatibility layers).
#pragma once
#include <windows.h>

// Before anything else at start-up: the variables that say where the system and its programs
// are take the system's own values, dropped where the system sets none; those that load code
// into programs go. The rest (the user's folders, names, anything the system does not set) stays.
void UseTheSystemsOwnVariables();

// Whether a variable named `name` (up to `length` characters, no "=") loads code into the
// programs that inherit it, and so goes.
bool LoadsCodeIntoPrograms(const WCHAR *name, size_t length);
