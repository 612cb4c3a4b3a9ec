#include "skin/SkinGeometry.h"

int ScaleToDpi(int value, int dpi)
{
    return MulDiv(value, dpi, 96);
}

RECT ScaleToDpi(const RECT &rect, int dpi)
{
    RECT scaled = {ScaleToDpi(rect.left, dpi), ScaleToDpi(rect.top, dpi), ScaleToDpi(rect.right, dpi),
                   ScaleToDpi(rect.bottom, dpi)};
    return scaled;
}

int ArtworkDpi(int dpi)
{
    return dpi <= 96 ? 96 : dpi <= 144 ? 144 : 192;
}

ProgressPieces ComputeProgressPieces(int x, int y, int position, int dpi)
{
    ProgressPieces pieces = {};
    if (position < 0)
        return pieces;
    pieces.hasFill = true;
    pieces.middleWidth = position * ScaleToDpi(452, dpi) / 100;
    int inset = ScaleToDpi(16, dpi), leftCap = ScaleToDpi(3, dpi);
    int rightCap = ScaleToDpi(7, dpi) - ScaleToDpi(4, dpi);
    int left = x + inset, top = y + inset, bottom = top + ScaleToDpi(14, dpi);
    int middle = left + leftCap, right = middle + pieces.middleWidth;
    SetRect(&pieces.leftCap, left, top, middle, bottom);
    SetRect(&pieces.middle, middle, top, right, bottom);
    SetRect(&pieces.rightCap, right, top, right + rightCap, bottom);
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
