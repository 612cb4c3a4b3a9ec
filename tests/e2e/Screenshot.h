// PNG screenshots of windows, for a person to look at.
#pragma once
#include <windows.h>
#include <string>

namespace test {

// Saves what the screen shows of a window's rectangle as build/screenshots/<name>.png. True
// when it was saved and its client area shows a page: mostly the white page, with text on it.
bool SaveWindowScreenshot(HWND window, const std::wstring &name);

}
