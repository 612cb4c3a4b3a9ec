#include "e2e/Screenshot.h"
#include "support/TestSupport.h"
#include <vector>

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

// At least half of the client area is white page and a few hundred of its pixels are dark
// text: a blank, black or half-painted window fails.
static bool ShowsAPage(HBITMAP bitmap, int width, int height, const RECT &client)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    std::vector<DWORD> pixels((size_t)width * height);
    HDC screen = GetDC(nullptr);
    bool read = GetDIBits(screen, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS) == height;
    ReleaseDC(nullptr, screen);
    long light = 0, dark = 0, all = 0;
    for (int y = client.top; read && y < client.bottom && y < height; ++y) {
        for (int x = client.left; x < client.right && x < width; ++x, ++all) {
            DWORD pixel = pixels[(size_t)y * width + x];
            int luminance = (299 * ((pixel >> 16) & 0xFF) + 587 * ((pixel >> 8) & 0xFF) + 114 * (pixel & 0xFF)) / 1000;
            light += luminance > 230;
            dark += luminance < 100;
        }
    }
    return read && all > 0 && light * 2 > all && dark > 200;
}

bool SaveWindowScreenshot(HWND window, const std::wstring &name)
{
    static ULONG_PTR token = 0;
    if (!token) {
        GdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
        GdiplusStartup(&token, &input, nullptr);
    }
    // A window just shown may not have painted yet (slow under emulation): taken again for up to
    // three seconds until it shows a page.
    RECT rect = {}, client = {};
    int width = 0, height = 0;
    HBITMAP bitmap = nullptr;
    bool page = false;
    for (int attempt = 0; attempt < 15 && !page; ++attempt) {
        if (bitmap) {
            DeleteObject(bitmap);
            UpdateWindow(window);
            Sleep(200);
        }
        if (!GetWindowRect(window, &rect))
            return false;
        width = rect.right - rect.left, height = rect.bottom - rect.top;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, width, height);
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        GetClientRect(window, &client);
        MapWindowPoints(window, nullptr, (POINT *)&client, 2);
        OffsetRect(&client, -rect.left, -rect.top);
        page = ShowsAPage(bitmap, width, height, client);
    }

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
    return saved && page;
}

}
