// The common controls library (version 6, through the setup's manifest), loaded when the first
// page needs it rather than imported: a silent installation never shows a control, and loading
// the library, with every window class it registers, is a noticeable part of a program's start
// under Wine.
#pragma once
#include <windows.h>
#include <commctrl.h>

// InitCommonControlsEx for the given ICC_ classes; false when the library cannot be loaded.
bool InitCommonControlsClasses(DWORD classes);

// The image list calls the skin uses, with the results of their ImageList_ namesakes (null, -1
// or FALSE where the library cannot be loaded).
HIMAGELIST CreateImageList(int width, int height, UINT flags, int initial, int grow);
int AddToImageList(HIMAGELIST list, HBITMAP image, HBITMAP mask);
BOOL SetImageListCount(HIMAGELIST list, UINT count);
BOOL DrawFromImageList(HIMAGELIST list, int index, HDC dc, int x, int y, UINT style);
