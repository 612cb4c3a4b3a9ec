// Folder helpers shared by the install sequence, the shortcuts and the custom page.
#pragma once
#include <windows.h>

// Makes a folder with all its missing parents. Nonzero when the folder exists afterwards.
BOOL CreateDirectoryTree(const WCHAR *path);

// True when a new file can be created in the folder. Never touches an existing file.
bool IsFolderWritable(const WCHAR *path);

// True when another process holds the file so that it cannot be replaced (a running program's
// image, or a handle opened without sharing).
bool IsFileInUse(const WCHAR *path);

// True when the name is a link or junction itself (reparse point).
bool IsReparsePoint(const WCHAR *path);

// A relative path as the setup writes them below the install folder: "\name" parts, none of
// them empty, "." or "..", and no character a file name cannot hold.
bool IsPlainRelativePath(const WCHAR *path, size_t length);
