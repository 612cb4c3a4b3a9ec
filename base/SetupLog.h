// The log an administrator asks for with /Log=<file>: one UTF-8 line a step, each with its local
// time, appended to the file. Without an open log every call does nothing. Any thread.
#pragma once
#include <windows.h>

// Opens (or creates) the file for appending. False when it cannot be written.
bool OpenSetupLog(const WCHAR *path);
void CloseSetupLog();
bool SetupLogIsOpen();

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
