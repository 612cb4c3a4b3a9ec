// Decisions of the custom page about the folder text the user typed or picked.
#pragma once
#include <windows.h>
#include <stddef.h>

// Characters the custom page reads of its folder text; longer text is refused, never cut.
enum { kFolderTextChars = 1024 };

// Length of the drive root at the start of a folder text, up to and including its first ":\"
// ("D:\Apps\Web" gives 3, for "D:\"). Leading spaces are skipped and count into the length.
// 0 when there is no ":\", or it stands first.
size_t DriveRootLength(const WCHAR *text);

// "所需磁盘空间：3MB （可用磁盘空间: <free MiB>MB）".
bool FormatDiskSpaceLine(WCHAR *line, size_t capacity, ULONGLONG freeBytes);

// The longest folder the engine can install into: every installed file's path, and the
// temporary name it is copied in under, must fit in MAX_PATH - 1 characters.
size_t MaxInstallFolderLength();

// Takes a typed folder text for installing: surrounding spaces and tabs removed, then refused
// (false) without ":\" or when the folder is too long for the engine. `folder` receives the
// trimmed text, its trailing backslash still there.
bool PrepareFolderText(const WCHAR *typed, WCHAR (&folder)[MAX_PATH]);

// Removes one trailing backslash: "D:\Apps\" becomes "D:\Apps", "D:\" becomes "D:".
void RemoveTrailingBackslash(WCHAR *folder);
