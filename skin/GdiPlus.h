// GDI+ through its flat interface, loaded at run time from the system folder (the setup never
// loads a DLL from its own folder). Only PNG decoding is needed.
#pragma once
#include <windows.h>

// Starts GDI+ once for the process (later calls do nothing; the first call is made on the
// user-interface thread at start-up). False when it is not available.
bool StartGdiPlus();

// Decodes PNG bytes into a 32-bit top-down DIB section with premultiplied alpha; null on failure.
HBITMAP DecodePngToBitmap(const void *bytes, DWORD size);
