// The process-wide skin store, one for each DPI a page is drawn at: the five fonts, the skin
// bitmaps decoded from the PNG resources on first use, and the three button image lists, all
// sized for that DPI. Everything in it lives until the process ends. User-interface thread only.
#pragma once
#include <windows.h>
#include <commctrl.h>

class CSkinStore {
public:
    // The store for `dpi`, which makes its fonts when it is first asked for.
    static CSkinStore &Instance(int dpi = 96);

    HBITMAP ProgressTrough();
    HBITMAP ProgressFill();
    HBITMAP Illustration();
    HBITMAP Logo();

    // The 247 x 239 illustration (at 96 DPI; points and sizes here are the DPI's pixels); with a
    // low opacity it is a watermark that text over it can be read on.
    void DrawIllustration(HDC dc, POINT at, BYTE opacity = 255);
    void DrawLogo(HDC dc, const RECT &rect);
    void DrawProgress(HDC dc, POINT origin, int position);

    HIMAGELIST LargeButtonImages();
    HIMAGELIST MediumButtonImages();
    HIMAGELIST SmallButtonImages();

    // A brush that repeats one column of the page background, for a control of `count` pixels
    // height whose top-left corner is at (x, y) of the page's client area. The caller owns it.
    HBRUSH CreateBackgroundBrush(const RECT &clientRect, int x, int y, int count);

    int m_nDpi;
    HFONT m_hFontText;
    HFONT m_hFontBigButton;
    HFONT m_hFontButton;
    HFONT m_hFontLink;
    HFONT m_hFontTitle;

    HBITMAP m_hbmProgressTrough;
    HBITMAP m_hbmProgressFill;
    HBITMAP m_hbmIllustration;
    HBITMAP m_hbmLogo;
    HIMAGELIST m_hLargeButtonImages;
    HIMAGELIST m_hMediumButtonImages;
    HIMAGELIST m_hSmallButtonImages;

private:
    explicit CSkinStore(int dpi);
    // Creates the five fonts at the store's DPI: regular "微软雅黑" when its font file is
    // installed, else "Tahoma".
    void CreateFonts();
    HBITMAP Bitmap(HBITMAP &member, int id, int width, int height, const int *cuts = NULL, int cutCount = 0);
    HIMAGELIST ButtonImages(HIMAGELIST &member, int id, int width, int height, int initialCount, bool setCount);
};

// Makes the 96-DPI store and its fonts, at start-up.
void CreateSkinFonts();

// The resource of skin image `id` (a 96-DPI one) drawn for `artworkDpi` (96, 144 or 192).
int SkinImageResource(int id, int artworkDpi);

// A skin image for `dpi` from the 96-DPI image `id`, a strip of `cells` cells of width x height
// each: the artwork of the nearest larger scale, resampled down with bicubic filtering where the
// DPI lies between two. Each cell is scaled on its own, and so is each column between its `cuts`
// (96-DPI x positions inside a cell), so that no cell or cap bleeds into its neighbour.
HBITMAP LoadScaledSkinImage(int id, int width, int height, int dpi, int cells = 1, const int *cuts = NULL,
                            int cutCount = 0);

// Decodes PNG resource `id` of this executable into a 32-bit premultiplied bitmap, or null.
HBITMAP LoadPngResource(int id);

// Loads the system's PNG codec on a short helper thread while start-up goes on, so that the
// first page's images decode without that wait. Call after GDI+ has started.
void WarmUpPngDecoder();

// Per-pixel alpha blend of a bitmap's part onto a context (AC_SRC_OVER), scaled by a constant
// opacity.
bool BlendBitmap(HDC target, int x, int y, int width, int height, HBITMAP bitmap, int sx, int sy, int sw, int sh,
                 BYTE opacity = 255);
