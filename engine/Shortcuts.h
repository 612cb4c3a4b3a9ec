// Shell links (.lnk) and Internet shortcuts (.url), written through the shell's own objects.
// The calling thread must have COM initialised.
#pragma once
#include <windows.h>

bool CreateShortcut(const WCHAR *target, const WCHAR *linkPath, const WCHAR *arguments);
bool CreateUrlShortcut(const WCHAR *url, const WCHAR *filePath);

// Creates and releases a shell link and an Internet shortcut in the calling thread's apartment,
// which must outlive the writing of the link files: the libraries behind them are then loaded and
// started while the thread would only wait, and stay loaded for the threads that write the files.
// Nothing while a CLinkObjectsThread does it.
void PrepareLinkObjects();

// The same on a thread of its own, for a run whose own thread has no use for COM: the thread
// starts COM (the process's first apartment, the costly one) and prepares the link objects at
// once, beside whatever the caller does meanwhile, and keeps its apartment until destroyed.
class CLinkObjectsThread {
public:
    CLinkObjectsThread();
    ~CLinkObjectsThread();

private:
    static DWORD WINAPI Run(LPVOID param);
    HANDLE m_hEnd;
    HANDLE m_hThread;
};

// A link file to write: a shell link to `target` with `arguments` (or none), or, where `url` is
// given, an Internet shortcut to it. A file of the account's own (`accountsOwn`) is written with
// its rights (`accountToken`, CreateOwnAccountToken's), or not at all.
struct LinkFile {
    WCHAR path[MAX_PATH];
    const WCHAR *target;
    const WCHAR *arguments;
    const WCHAR *url;
    bool accountsOwn;
    HANDLE accountToken;
    bool saved;
};
// Writes the link files side by side, each on a thread of its own with COM of its own: none
// depends on another, and each mostly waits while the shell takes note of it. Returns when all
// are done; `saved` tells which were written.
void WriteLinkFiles(LinkFile *links, int count);
