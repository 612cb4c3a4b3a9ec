// GDI+ through its flat interface, loaded at run time from the system folder (the setup never
// loads a DLL from its own folder). Only PNG decoding, and resampling the decoded image, are
// needed.
#pragma once
#include <windows.h>

// Starts GDI+ once for the process (later calls do nothing; the first call is made on the
// user-interface thread at start-up). False when it is not available.
bool StartGdiPlus();

// A 32-bit top-down DIB section of width x height, the kind every skin bitmap is, and its pixels;
// null on failure.
HBITMAP CreateSkinSurface(int width, int height, void **pixels);

// Decodes PNG bytes into a 32-bit top-down DIB section with premultiplied alpha; null on failure.
HBITMAP DecodePngToBitmap(const void *bytes, DWORD size);

// Decodes PNG bytes and resamples them to width x height with high-quality bicubic filtering,
// column by column: source columns [sourceCuts[i], sourceCuts[i + 1]) go to target columns
// [targetCuts[i], targetCuts[i + 1]), for i below `columns` (one column when the cuts are null:
// the whole image). Same result kind as DecodePngToBitmap; null on failure.
HBITMAP DecodePngResampled(const void *bytes, DWORD size, int width, int height, const int *sourceCuts = NULL,
                           const int *targetCuts = NULL, int columns = 1);
