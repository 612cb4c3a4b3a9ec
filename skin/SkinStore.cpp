#include "skin/SkinStore.h"
#include "skin/GdiPlus.h"
#include "skin/SkinGeometry.h"
#include "base/DllSafety.h"
#include "resource.h"
#include <shlwapi.h>
#include <stdlib.h>

CSkinStore &CSkinStore::Instance()
{
    static CSkinStore *store = new CSkinStore();
    return *store;
}

CSkinStore::CSkinStore()
    : m_hFontText(NULL), m_hFontBigButton(NULL), m_hFontButton(NULL), m_hFontLink(NULL), m_hFontTitle(NULL),
      m_hbmProgressTrough(NULL), m_hbmProgressFill(NULL), m_hbmIllustration(NULL), m_hbmLogo(NULL),
      m_hLargeButtonImages(NULL), m_hMediumButtonImages(NULL), m_hSmallButtonImages(NULL)
{
}

static HFONT SkinFont(const WCHAR *face, int height, int weight, bool underline)
{
    return CreateFontW(height, 0, 0, 0, weight, FALSE, underline, FALSE, ANSI_CHARSET, 0, 0, 0, 0, face);
}

void CreateSkinFonts()
{
    CSkinStore &store = CSkinStore::Instance();
    WCHAR path[MAX_PATH] = {};
    ExpandEnvironmentStringsW(L"%windir%\\fonts\\msyh.ttf", path, MAX_PATH);
    if (PathFileExistsW(path)) {
        const WCHAR *face = L"微软雅黑";
        store.m_hFontText = SkinFont(face, 17, 0, false);
        store.m_hFontButton = SkinFont(face, 20, 0, false);
        store.m_hFontBigButton = SkinFont(face, 24, 0, false);
        store.m_hFontLink = SkinFont(face, 17, 0, true);
        store.m_hFontTitle = SkinFont(face, 24, 0, false);
    } else {
        const WCHAR *face = L"Tahoma";
        store.m_hFontText = SkinFont(face, 13, 0, false);
        store.m_hFontButton = SkinFont(face, 16, FW_BOLD, false);
        store.m_hFontBigButton = SkinFont(face, 21, FW_BOLD, false);
        store.m_hFontLink = SkinFont(face, 13, 0, true);
        store.m_hFontTitle = SkinFont(face, 21, 0, false);
    }
}

HBITMAP LoadPngResource(int id)
{
    HMODULE module = GetModuleHandleW(NULL);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
    if (!found)
        return NULL;
    DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const void *bytes = loaded ? LockResource(loaded) : NULL;
    if (!bytes || size == 0)
        return NULL;
    return DecodePngToBitmap(bytes, size);
}

static DWORD WINAPI DecodeOnce(LPVOID)
{
    HBITMAP bitmap = LoadPngResource(IDP_PROGRESS_FILL);
    if (bitmap)
        DeleteObject(bitmap);
    return 0;
}

void WarmUpPngDecoder()
{
    HANDLE thread = CreateThread(NULL, 0, DecodeOnce, NULL, 0, NULL);
    if (thread)
        CloseHandle(thread);
}

typedef BOOL(WINAPI *AlphaBlendFn)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);

static AlphaBlendFn AlphaBlendEntry()
{
    static bool looked = false;
    static AlphaBlendFn entry = NULL;
    if (!looked) {
        looked = true;
        HMODULE module = LoadSystemLibrary(L"msimg32.dll");
        if (module)
            entry = (AlphaBlendFn)(void *)GetProcAddress(module, "AlphaBlend");
    }
    return entry;
}

bool BlendBitmap(HDC target, int x, int y, int width, int height, HBITMAP bitmap, int sx, int sy, int sw, int sh,
                 BYTE opacity)
{
    AlphaBlendFn alphaBlend = AlphaBlendEntry();
    if (!alphaBlend || !bitmap || width <= 0 || height <= 0)
        return false;
    HDC memory = CreateCompatibleDC(target);
    if (!memory)
        return false;
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, opacity, AC_SRC_ALPHA};
    BOOL drawn = alphaBlend(target, x, y, width, height, memory, sx, sy, sw, sh, blend);
    SelectObject(memory, previous);
    DeleteDC(memory);
    return drawn != FALSE;
}

HBITMAP CSkinStore::Bitmap(HBITMAP &member, int id)
{
    if (!member)
        member = LoadPngResource(id);
    return member;
}

HBITMAP CSkinStore::ProgressTrough() { return Bitmap(m_hbmProgressTrough, IDP_PROGRESS_TROUGH); }
HBITMAP CSkinStore::ProgressFill() { return Bitmap(m_hbmProgressFill, IDP_PROGRESS_FILL); }
HBITMAP CSkinStore::Illustration() { return Bitmap(m_hbmIllustration, IDP_ILLUSTRATION); }
HBITMAP CSkinStore::Logo() { return Bitmap(m_hbmLogo, IDP_LOGO); }

void CSkinStore::DrawIllustration(HDC dc, POINT at, BYTE opacity)
{
    BlendBitmap(dc, at.x, at.y, 247, 239, Illustration(), 0, 0, 247, 239, opacity);
}

void CSkinStore::DrawLogo(HDC dc, const RECT &rect)
{
    // One size for both sides: the logo is never stretched, and a rectangle larger than the
    // 60 x 58 logo names pixels outside it and draws nothing.
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width > 60 || height > 58)
        return;
    BlendBitmap(dc, rect.left, rect.top, width, height, Logo(), 0, 0, width, height);
}

void CSkinStore::DrawProgress(HDC dc, POINT origin, int position)
{
    BlendBitmap(dc, origin.x, origin.y, 484, 46, ProgressTrough(), 0, 0, 484, 46);
    ProgressPieces pieces = ComputeProgressPieces(origin.x, origin.y, position);
    if (!pieces.hasFill)
        return;
    HBITMAP fill = ProgressFill();
    BlendBitmap(dc, pieces.leftCap.left, pieces.leftCap.top, 3, 14, fill, 0, 0, 3, 14);
    BlendBitmap(dc, pieces.middle.left, pieces.middle.top, pieces.middleWidth, 14, fill, 3, 0, 1, 14);
    BlendBitmap(dc, pieces.rightCap.left, pieces.rightCap.top, 3, 14, fill, 4, 0, 3, 14);
}

HIMAGELIST CSkinStore::ButtonImages(HIMAGELIST &member, int id, int width, int height, int initialCount, bool setCount)
{
    if (member)
        return member;
    member = ImageList_Create(width, height, ILC_COLOR32, initialCount, 0);
    if (!member)
        return NULL;
    HBITMAP strip = LoadPngResource(id);
    if (strip) {
        ImageList_Add(member, strip, NULL);
        DeleteObject(strip);
    }
    if (setCount)
        ImageList_SetImageCount(member, 3);
    return member;
}

HIMAGELIST CSkinStore::LargeButtonImages()
{
    return ButtonImages(m_hLargeButtonImages, IDP_BUTTON_LARGE, 138, 40, 3, true);
}

HIMAGELIST CSkinStore::MediumButtonImages()
{
    return ButtonImages(m_hMediumButtonImages, IDP_BUTTON_MEDIUM, 117, 33, 4, false);
}

HIMAGELIST CSkinStore::SmallButtonImages()
{
    return ButtonImages(m_hSmallButtonImages, IDP_BUTTON_SMALL, 77, 26, 4, false);
}

HBRUSH CSkinStore::CreateBackgroundBrush(const RECT &clientRect, int x, int y, int count)
{
    int width = clientRect.right - clientRect.left, height = clientRect.bottom - clientRect.top;
    if (width <= 0 || height <= 0 || count <= 0 || x < 0 || x >= width || y < 0 || y + count > height)
        return NULL;
    HDC screen = GetWindowDC(GetDesktopWindow());
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO surfaceInfo = {};
    surfaceInfo.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    surfaceInfo.bmiHeader.biWidth = width;
    surfaceInfo.bmiHeader.biHeight = -height;
    surfaceInfo.bmiHeader.biPlanes = 1;
    surfaceInfo.bmiHeader.biBitCount = 32;
    surfaceInfo.bmiHeader.biCompression = BI_RGB;
    DWORD *pixels = NULL;
    HBITMAP surface = CreateDIBSection(screen, &surfaceInfo, DIB_RGB_COLORS, (void **)&pixels, NULL, 0);
    HBRUSH brush = NULL;
    if (surface && pixels) {
        HGDIOBJ previous = SelectObject(memory, surface);
        // The page background as the frame paints it.
        RECT all = {0, 0, width, height};
        FillRect(memory, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
        GdiFlush();
        // A packed DIB of one column, bottom-up, with the standard 40-byte header.
        size_t bytes = sizeof(BITMAPINFOHEADER) + 4 * (size_t)count;
        BYTE *packed = (BYTE *)calloc(1, bytes);
        if (packed) {
            BITMAPINFOHEADER *header = (BITMAPINFOHEADER *)packed;
            header->biSize = sizeof(BITMAPINFOHEADER);
            header->biWidth = 1;
            header->biHeight = count;
            header->biPlanes = 1;
            header->biBitCount = 32;
            header->biCompression = BI_RGB;
            header->biSizeImage = 4 * count;
            DWORD *column = (DWORD *)(packed + sizeof(BITMAPINFOHEADER));
            for (int i = 0; i < count; ++i)
                column[count - 1 - i] = pixels[(size_t)(y + i) * width + x];
            brush = CreateDIBPatternBrushPt(packed, DIB_RGB_COLORS);
            free(packed);
        }
        SelectObject(memory, previous);
    }
    if (surface)
        DeleteObject(surface);
    DeleteDC(memory);
    ReleaseDC(GetDesktopWindow(), screen);
    return brush;
}
