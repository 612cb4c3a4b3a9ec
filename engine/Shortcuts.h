// Shell links (.lnk) and Internet shortcuts (.url), written through the shell's own objects.
// The calling thread must have COM initialised.
#pragma once
#include <windows.h>

bool CreateShortcut(const WCHAR *target, const WCHAR *linkPath, const WCHAR *arguments);
bool CreateUrlShortcut(const WCHAR *url, const WCHAR *filePath);
