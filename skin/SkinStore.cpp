#include "skin/SkinStore.h"
#include "skin/CommonControls.h"
#include "skin/GdiPlus.h"
#include "skin/SkinGeometry.h"
#include "base/DllSafety.h"
#include "resource.h"
#include <shlwapi.h>
#include <stdlib.h>

CSkinStore &CSkinStore::Instance(int dpi)
{
    // A page moves between a few DPIs at most; past the last slot the last one is reused.
    enum { kSlots = 8 };
    static CSkinStore *stores[kSlots] = {};
    int slot = 0;
    while (slot < kSlots - 1 && stores[slot] && stores[slot]->m_nDpi != dpi)
        ++slot;
    if (!stores[slot] || stores[slot]->m_nDpi != dpi)
        stores[slot] = new CSkinStore(dpi);
    return *stores[slot];
}

CSkinStore::CSkinStore(int dpi)
    : m_nDpi(dpi), m_hFontText(NULL), m_hFontBigButton(NULL), m_hFontButton(NULL), m_hFontLink(NULL),
      m_hFontTitle(NULL), m_hbmProgressTrough(NULL), m_hbmProgressFill(NULL), m_hbmIllustration(NULL), m_hbmLogo(NULL),
      m_hLargeButtonImages(NULL), m_hMediumButtonImages(NULL), m_hSmallButtonImages(NULL)
{
    CreateFonts();
}

static HFONT SkinFont(const WCHAR *face, int height, int weight, bool underline, int dpi)
{
    return CreateFontW(ScaleToDpi(height, dpi), 0, 0, 0, weight, FALSE, underline, FALSE, ANSI_CHARSET, 0, 0, 0, 0,
                       face);
}

void CSkinStore::CreateFonts()
{
    WCHAR path[MAX_PATH] = {};
    ExpandEnvironmentStringsW(L"%windir%\\fonts\\msyh.ttf", path, MAX_PATH);
    if (PathFileExistsW(path)) {
        const WCHAR *face = L"微软雅黑";
        m_hFontText = SkinFont(face, 17, 0, false, m_nDpi);
        m_hFontButton = SkinFont(face, 20, 0, false, m_nDpi);
        m_hFontBigButton = SkinFont(face, 24, 0, false, m_nDpi);
        m_hFontLink = SkinFont(face, 17, 0, true, m_nDpi);
        m_hFontTitle = SkinFont(face, 24, 0, false, m_nDpi);
    } else {
        const WCHAR *face = L"Tahoma";
        m_hFontText = SkinFont(face, 13, 0, false, m_nDpi);
        m_hFontButton = SkinFont(face, 16, FW_BOLD, false, m_nDpi);
        m_hFontBigButton = SkinFont(face, 21, FW_BOLD, false, m_nDpi);
        m_hFontLink = SkinFont(face, 13, 0, true, m_nDpi);
        m_hFontTitle = SkinFont(face, 21, 0, false, m_nDpi);
    }
}

void CreateSkinFonts()
{
    CSkinStore::Instance();
}

int SkinImageResource(int id, int artworkDpi)
{
    static const int kScaled[][3] = {
        {IDP_ILLUSTRATION, IDP_ILLUSTRATION_150, IDP_ILLUSTRATION_200},
        {IDP_LOGO, IDP_LOGO_150, IDP_LOGO_200},
        {IDP_PROGRESS_FILL, IDP_PROGRESS_FILL_150, IDP_PROGRESS_FILL_200},
        {IDP_PROGRESS_TROUGH, IDP_PROGRESS_TROUGH_150, IDP_PROGRESS_TROUGH_200},
        {IDP_BUTTON_SMALL, IDP_BUTTON_SMALL_150, IDP_BUTTON_SMALL_200},
        {IDP_BUTTON_LARGE, IDP_BUTTON_LARGE_150, IDP_BUTTON_LARGE_200},
        {IDP_BUTTON_MEDIUM, IDP_BUTTON_MEDIUM_150, IDP_BUTTON_MEDIUM_200},
    };
    int column = artworkDpi <= 96 ? 0 : artworkDpi <= 144 ? 1 : 2;
    for (const auto &row : kScaled) {
        if (row[0] == id)
            return row[column];
    }
    return id;
}

static bool PngResourceBytes(int id, const void *&bytes, DWORD &size)
{
    HMODULE module = GetModuleHandleW(NULL);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
    if (!found)
        return false;
    size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    bytes = loaded ? LockResource(loaded) : NULL;
    return bytes && size != 0;
}

HBITMAP LoadScaledSkinImage(int id, int width, int height, int dpi, int cells, const int *cuts, int cutCount)
{
    int artworkDpi = ArtworkDpi(dpi);
    const void *bytes = NULL;
    DWORD size = 0;
    if (!PngResourceBytes(SkinImageResource(id, artworkDpi), bytes, size))
        return NULL;
    if (artworkDpi == dpi)
        return DecodePngToBitmap(bytes, size);
    // The columns' edges at both scales: each cell scaled as one piece, its cuts each on their own.
    enum { kMaxColumns = 12 };
    if (cells < 1 || cutCount < 0 || cells * (cutCount + 1) > kMaxColumns)
        return NULL;
    int sourceCuts[kMaxColumns + 1] = {0}, targetCuts[kMaxColumns + 1] = {0};
    int sourceCell = ScaleToDpi(width, artworkDpi), targetCell = ScaleToDpi(width, dpi);
    int columns = 0;
    for (int cell = 0; cell < cells; ++cell) {
        for (int i = 0; i <= cutCount; ++i) {
            ++columns;
            sourceCuts[columns] = cell * sourceCell + (i < cutCount ? ScaleToDpi(cuts[i], artworkDpi) : sourceCell);
            targetCuts[columns] = cell * targetCell + (i < cutCount ? ScaleToDpi(cuts[i], dpi) : targetCell);
        }
    }
    return DecodePngResampled(bytes, size, cells * targetCell, ScaleToDpi(height, dpi), sourceCuts, targetCuts,
                              columns);
}

HBITMAP LoadPngResource(int id)
{
    const void *bytes = NULL;
    DWORD size = 0;
    return PngResourceBytes(id, bytes, size) ? DecodePngToBitmap(bytes, size) : NULL;
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

HBITMAP CSkinStore::Bitmap(HBITMAP &member, int id, int width, int height, const int *cuts, int cutCount)
{
    if (!member)
        member = LoadScaledSkinImage(id, width, height, m_nDpi, 1, cuts, cutCount);
    return member;
}

// The fill's caps are scaled apart from its one stretchable column.
static const int kFillCuts[] = {3, 4};

HBITMAP CSkinStore::ProgressTrough() { return Bitmap(m_hbmProgressTrough, IDP_PROGRESS_TROUGH, 484, 46); }
HBITMAP CSkinStore::ProgressFill() { return Bitmap(m_hbmProgressFill, IDP_PROGRESS_FILL, 7, 14, kFillCuts, 2); }
HBITMAP CSkinStore::Illustration() { return Bitmap(m_hbmIllustration, IDP_ILLUSTRATION, 247, 239); }
HBITMAP CSkinStore::Logo() { return Bitmap(m_hbmLogo, IDP_LOGO, 60, 58); }

void CSkinStore::DrawIllustration(HDC dc, POINT at, BYTE opacity)
{
    int width = ScaleToDpi(247, m_nDpi), height = ScaleToDpi(239, m_nDpi);
    BlendBitmap(dc, at.x, at.y, width, height, Illustration(), 0, 0, width, height, opacity);
}

void CSkinStore::DrawLogo(HDC dc, const RECT &rect)
{
    // One size for both sides: the logo is never stretched, and a rectangle larger than the
    // 60 x 58 logo names pixels outside it and draws nothing.
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width > ScaleToDpi(60, m_nDpi) || height > ScaleToDpi(58, m_nDpi))
        return;
    BlendBitmap(dc, rect.left, rect.top, width, height, Logo(), 0, 0, width, height);
}

void CSkinStore::DrawProgress(HDC dc, POINT origin, int position)
{
    int width = ScaleToDpi(484, m_nDpi), height = ScaleToDpi(46, m_nDpi);
    BlendBitmap(dc, origin.x, origin.y, width, height, ProgressTrough(), 0, 0, width, height);
    ProgressPieces pieces = ComputeProgressPieces(origin.x, origin.y, position, m_nDpi);
    if (!pieces.hasFill)
        return;
    HBITMAP fill = ProgressFill();
    int capHeight = pieces.leftCap.bottom - pieces.leftCap.top;
    int leftCap = pieces.leftCap.right - pieces.leftCap.left, rightCap = pieces.rightCap.right - pieces.rightCap.left;
    int rightCapSource = ScaleToDpi(4, m_nDpi);
    BlendBitmap(dc, pieces.leftCap.left, pieces.leftCap.top, leftCap, capHeight, fill, 0, 0, leftCap, capHeight);
    BlendBitmap(dc, pieces.middle.left, pieces.middle.top, pieces.middleWidth, capHeight, fill, leftCap, 0, 1,
                capHeight);
    BlendBitmap(dc, pieces.rightCap.left, pieces.rightCap.top, rightCap, capHeight, fill, rightCapSource, 0, rightCap,
                capHeight);
}

HIMAGELIST CSkinStore::ButtonImages(HIMAGELIST &member, int id, int width, int height, int initialCount, bool setCount)
{
    if (member)
        return member;
    member = CreateImageList(ScaleToDpi(width, m_nDpi), ScaleToDpi(height, m_nDpi), ILC_COLOR32, initialCount, 0);
    if (!member)
        return NULL;
    HBITMAP strip = LoadScaledSkinImage(id, width, height, m_nDpi, 3);
    if (strip) {
        AddToImageList(member, strip, NULL);
        DeleteObject(strip);
    }
    if (setCount)
        SetImageListCount(member, 3);
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
    DWORD *pixels = NULL;
    HBITMAP surface = CreateSkinSurface(width, height, (void **)&pixels);
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
