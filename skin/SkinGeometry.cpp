#include "skin/SkinGeometry.h"

ProgressPieces ComputeProgressPieces(int x, int y, int position)
{
    ProgressPieces pieces = {};
    if (position < 0)
        return pieces;
    pieces.hasFill = true;
    pieces.middleWidth = position * 452 / 100;
    int top = y + 16, bottom = y + 30;
    SetRect(&pieces.leftCap, x + 16, top, x + 19, bottom);
    SetRect(&pieces.middle, x + 19, top, x + 19 + pieces.middleWidth, bottom);
    SetRect(&pieces.rightCap, x + 19 + pieces.middleWidth, top, x + 22 + pieces.middleWidth, bottom);
    return pieces;
}

POINT CenterInArea(const RECT &reference, const RECT &area, int width, int height)
{
    POINT p;
    p.x = (reference.left + reference.right) / 2 - width / 2;
    p.y = (reference.top + reference.bottom) / 2 - height / 2;
    if (p.x < area.left)
        p.x = area.left;
    else if (p.x + width > area.right)
        p.x = area.right - width;
    if (p.y < area.top)
        p.y = area.top;
    else if (p.y + height > area.bottom)
        p.y = area.bottom - height;
    return p;
}
