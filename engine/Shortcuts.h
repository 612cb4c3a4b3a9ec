// Shell links (.lnk) and Internet shortcuts (.url), written through the shell's own objects.
// The calling thread must have COM initialised.
#pragma once
#include <windows.h>

bool CreateShortcut(const WCHAR *target, const WCHAR *linkPath, const WCHAR *arguments);
bool CreateUrlShortcut(const WCHAR *url, const WCHAR *filePath);

// A link file to write: a shell link to `target` with `arguments` (or none), or, where `url` is
// given, an Internet shortcut to it.
struct LinkFile {
    WCHAR path[MAX_PATH];
    const WCHAR *target;
    const WCHAR *arguments;
    const WCHAR *url;
    bool saved;
};
// Writes the link files side by side, each on a thread of its own with COM of its own: none
// depends on another, and each mostly waits while the shell takes note of it. Returns when all
// are done; `saved` tells which were written.
void WriteLinkFiles(LinkFile *links, int count);
