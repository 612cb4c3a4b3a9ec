// Pure geometry of the skin: where the progress bar's pieces go and where a window is centred.
#pragma once
#include <windows.h>

// The trough image is 484 x 46; its inner frame starts at (16, 16) and is 452 pixels wide.
struct ProgressPieces {
    bool hasFill;      // false for a negative position: the trough only
    int middleWidth;   // position * 452 / 100, truncated toward zero
    RECT leftCap;      // destination rectangles, 14 pixels tall
    RECT middle;
    RECT rightCap;
};
ProgressPieces ComputeProgressPieces(int x, int y, int position);

// The top-left corner that centres a width x height window on `reference`, kept inside `area`.
POINT CenterInArea(const RECT &reference, const RECT &area, int width, int height);
