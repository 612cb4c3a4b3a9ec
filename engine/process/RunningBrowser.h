// A browser still running from the install folder keeps its executable locked. These end it
// with the user's consent.
#pragma once
#include <windows.h>

// Ends every process, whoever runs it, whose executable's full path begins with `path` or its
// short form (case-insensitive), and waits up to `timeout` ms for all of them. -1 when the path
// is null, the process list cannot be read or nothing matched; else 0 when all ended in time,
// WAIT_TIMEOUT or WAIT_FAILED.
int TerminateProcessesByPath(const WCHAR *path, DWORD timeout);
// How many other processes run an executable whose full path begins with `path`, as above; -1
// when the process list cannot be read.
int CountProcessesByPath(const WCHAR *path);

enum RunningBrowserOutcome { kBrowserCleared, kBrowserCancelled };

// The dialogue when the browser executable is in use: asks, ends the browser, and waits until
// the file is free (cleared) or the user gives up (cancelled). The file itself is left alone.
// `action` names what goes on once the browser has ended ("安装", "卸载"). In a silent run
// nothing is asked: the browser is ended only after SetSilentRunEndsBrowser(true), and a file
// that only another program holds open, with no browser running, is cleared.
RunningBrowserOutcome ResolveRunningBrowser(const WCHAR *browserPath, const WCHAR *action = L"安装");
void SetSilentRunEndsBrowser(bool endIt);

extern const WCHAR kRunningBrowserCaption[];
