// The log an administrator asks for with /Log=<file>: one UTF-8 line a step, each with its local
// time, appended to the file. Without an open log every call does nothing. Any thread.
//
// The setup runs elevated, so the log must not become a way to write into a file someone else
// chose: it is opened only as a file of ours on a local drive, never through a link, and what it
// writes cannot start a line of its own.
#pragma once
#include <windows.h>
#include <stddef.h>

// Why a log was not opened.
enum LogRefusal {
    kLogOpened,
    kLogBadPath,       // not a file on a local drive: a device, a stream, a network path, a bad name
    kLogThroughLink,   // the file, or a folder on the way, is a link or junction
    kLogNotAPlainFile, // a folder, a device, or a file with a second name (a hard link)
    kLogForeign,       // an existing file that is not a log of ours, or that another user owns
    kLogUnreachable,   // the system refused: no access, a folder that does not exist
};

// Opens the log for appending, or makes a new one with the access list of an install folder.
// False when it was refused; `refusal` (may be null) hears why.
bool OpenSetupLog(const WCHAR *path, LogRefusal *refusal = NULL);
void CloseSetupLog();
bool SetupLogIsOpen();
// The reason for a refusal, for the person who gave the path.
const WCHAR *DescribeLogRefusal(LogRefusal refusal);

// The full path of a log (as GetFullPathNameW gives it) is one the log may use: "X:\" and names
// without device names, streams, wildcards or control characters, nor a name ending in a dot or
// space, which Windows would take off.
bool LogPathAcceptable(const WCHAR *fullPath);
// Whether `owner` is Administrators, SYSTEM or `self` (the user this process runs as, where it
// counts among them: CRunningAccount::Trusted): whose existing log, or object of the setup's
// name, the setup trusts.
bool OwnerIsAdministratorsOr(PSID owner, PSID self);
// `text` with every control character written out (CR as \r, LF as \n, tab as \t, others as \xHH,
// the Unicode line and paragraph separators as \uHHHH), cut to fit `capacity`.
void EscapeLogText(const WCHAR *text, WCHAR *escaped, size_t capacity);

// One line for whoever started the program from a console: to the standard error it was handed,
// else to the console of the process that started it. Nothing when there is neither.
void TellConsole(const WCHAR *text);

// One line, printf-style as Format is.
void LogStep(const WCHAR *pattern, ...);
// One line about a failure: the text, then the Windows error code and the system's words for it.
void LogFailure(DWORD error, const WCHAR *pattern, ...);

// A silent run shows nothing: with SetSilentRun(true) every ShowMessage becomes a log line.
void SetSilentRun(bool silent);
bool IsSilentRun();
// MessageBoxW, with its text logged. In a silent run only logged, and answered as the box's
// cautious choice: IDOK for a box with only OK, IDNO for yes/no, IDCANCEL otherwise.
int ShowMessage(HWND owner, const WCHAR *text, const WCHAR *caption, UINT type);
