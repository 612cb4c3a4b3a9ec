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
// The text after its leading blanks (spaces, tabs, full-width spaces).
const WCHAR *SkipFolderBlanks(const WCHAR *text);

// "所需磁盘空间：3MB （可用磁盘空间: <free MiB>MB）".
bool FormatDiskSpaceLine(WCHAR *line, size_t capacity, ULONGLONG freeBytes);

// The longest folder the engine can install into: every installed file's path, and the
// temporary name it is copied in under, must fit in MAX_PATH - 1 characters.
size_t MaxInstallFolderLength();

// What the custom page makes of a folder text.
enum FolderVerdict {
    kFolderAccepted,
    kFolderNoDrive,        // no ":\"
    kFolderTooLong,        // the browser's deepest file would not fit below it
    kFolderNetwork,        // "\\server\share": the elevated setup cannot rely on it
    kFolderBadCharacter,   // < > : " | ? * or a control character in a name
    kFolderBadNameEnd,     // a name that ends in a space or a dot
    kFolderReservedName,   // CON, NUL, COM1 and the other device names
};

// Takes a typed or picked folder text for installing. Trimmed first: spaces, tabs and the
// full-width space that Chinese input methods type, around it, and its trailing backslashes
// ("D:\" keeps its own); "/" counts as "\" and repeated backslashes as one. `folder` receives
// the trimmed folder, also when it is refused.
FolderVerdict PrepareFolderText(const WCHAR *typed, WCHAR (&folder)[MAX_PATH]);

// The message the page shows for a refused folder (`folder` as PrepareFolderText left it).
bool FormatFolderRefusal(FolderVerdict verdict, const WCHAR *folder, WCHAR *text, size_t capacity);

// Removes one trailing backslash: "D:\Apps\" becomes "D:\Apps", "D:\" becomes "D:".
void RemoveTrailingBackslash(WCHAR *folder);
