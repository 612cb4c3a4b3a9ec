// The command lines the engine starts programs with. Every program path is put in double
// quotes, so that CreateProcessW never runs an earlier prefix of a path with spaces (such as
// "C:\Program.exe"); the argument text after it stays as the program expects it.
#pragma once
#include <windows.h>
#include <stddef.h>

enum { kCommandLineChars = 2 * MAX_PATH + 64 };

// "<payload>" /P=<extraction folder>   (the folder is the rest of the line, unquoted)
bool FormPayloadCommandLine(WCHAR *buffer, size_t capacity, const WCHAR *payloadFile, const WCHAR *extractDir);

// "<install folder>\Velmarin.exe" <arguments>, or just the quoted path without arguments.
bool FormBrowserCommandLine(WCHAR *buffer, size_t capacity, const WCHAR *installDir, const WCHAR *arguments);

// "<install folder>\velmarin.exe", the start from the finish page.
bool FormLaunchCommandLine(WCHAR *buffer, size_t capacity, const WCHAR *installDir);
