// Checks of the places an install record names, shared by its reader and its rules.
#pragma once
#include <windows.h>

// A folder of Windows itself, or one whose name cannot be had.
bool IsSystemFolder(const WCHAR *folder);
// A full path on a drive, nothing relative or doubled.
bool IsFullDrivePath(const WCHAR *path);
