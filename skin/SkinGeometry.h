// Pure geometry of the skin: its sizes at a screen's DPI, where the progress bar's pieces go and
// where a window is centred.
#pragma once
#include <windows.h>

// The skin is laid out in pixels at 96 DPI. At another DPI every length is scaled and rounded
// half away from zero, as the artwork generator rounds the larger images' sizes.
int ScaleToDpi(int value, int dpi);
RECT ScaleToDpi(const RECT &rect, int dpi);
// The DPI whose artwork is drawn at `dpi`: 96, 144 or 192, the nearest at or above it (the
// largest above 192), so that an image is only ever scaled down.
int ArtworkDpi(int dpi);

// The trough image is 484 x 46 at 96 DPI; its inner frame starts at (16, 16) and is 452 pixels
// wide. The fill image's left cap, middle and right cap are its columns 0-2, 3 and 4-6.
struct ProgressPieces {
    bool hasFill;      // false for a negative position: the trough only
    int middleWidth;   // position * (452 at the DPI) / 100, truncated toward zero
    RECT leftCap;      // destination rectangles, 14 pixels tall at 96 DPI
    RECT middle;
    RECT rightCap;
};
ProgressPieces ComputeProgressPieces(int x, int y, int position, int dpi = 96);

// The top-left corner that centres a width x height window on `reference`, kept inside `area`.
POINT CenterInArea(const RECT &reference, const RECT &area, int width, int height);
