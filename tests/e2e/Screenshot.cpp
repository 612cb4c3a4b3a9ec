#include "e2e/Screenshot.h"
#include "support/TestSupport.h"

extern "C" {
struct GdiplusStartupInput {
    UINT32 version;
    void *callback;
    BOOL noThread;
    BOOL noCodecs;
};
int WINAPI GdiplusStartup(ULONG_PTR *, const GdiplusStartupInput *, void *);
int WINAPI GdipCreateBitmapFromHBITMAP(HBITMAP, HPALETTE, void **);
int WINAPI GdipSaveImageToFile(void *, const WCHAR *, const CLSID *, const void *);
int WINAPI GdipDisposeImage(void *);
}

namespace test {

bool SaveWindowScreenshot(HWND window, const std::wstring &name)
{
    static ULONG_PTR token = 0;
    if (!token) {
        GdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
        GdiplusStartup(&token, &input, nullptr);
    }
    RECT rect;
    if (!GetWindowRect(window, &rect))
        return false;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    std::wstring folder = BuildDir() + L"\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring path = folder + L"\\" + name + L".png";
    // The PNG encoder of GDI+.
    const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    void *image = nullptr;
    bool saved = GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &image) == 0 &&
                 GdipSaveImageToFile(image, path.c_str(), &png, nullptr) == 0;
    if (image)
        GdipDisposeImage(image);
    DeleteObject(bitmap);
    return saved;
}

}
