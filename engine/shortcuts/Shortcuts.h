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

// The names of the browser's shortcut in every shortcut folder, and of the one the 3.0 versions
// left there.
extern const WCHAR kBrowserLinkName[];  // "岚舟 3.lnk"
extern const WCHAR kOldBrowserLinkName[];  // "Velmarin 3.0.lnk"

// The account's own links of an installation: the three Internet shortcuts of the links bar in
// `favorites` ("<favorites>\LinkBar\新手上路.url" and the others), filled into the first of
// `files` with their URLs in `urls` (room for kLinkBarFiles each); the count (0 without a
// favourites folder). Neither written nor recorded here.
enum { kLinkBarFiles = 3 };
int LinkBarFiles(const WCHAR *favorites, LinkFile *files, WCHAR (*urls)[MAX_PATH]);
