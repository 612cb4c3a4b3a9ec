#include "skin/GdiPlus.h"
#include "base/DllSafety.h"
#include <objbase.h>

namespace {

struct StartupInput {
    UINT32 version;
    void *debugEventCallback;
    BOOL suppressBackgroundThread;
    BOOL suppressExternalCodecs;
};
typedef int(WINAPI *StartupFn)(ULONG_PTR *, const StartupInput *, void *);
typedef int(WINAPI *CreateBitmapFromStreamFn)(IStream *, void **);
typedef int(WINAPI *CreateHBITMAPFromBitmapFn)(void *, HBITMAP *, DWORD);
typedef int(WINAPI *DisposeImageFn)(void *);
typedef int(WINAPI *GetImageSizeFn)(void *, UINT *);
typedef int(WINAPI *CreateBitmapFromScan0Fn)(int, int, int, int, BYTE *, void **);
typedef int(WINAPI *GetImageGraphicsContextFn)(void *, void **);
typedef int(WINAPI *SetGraphicsModeFn)(void *, int);
typedef int(WINAPI *DeleteGraphicsFn)(void *);
typedef int(WINAPI *CreateImageAttributesFn)(void **);
typedef int(WINAPI *SetImageAttributesWrapModeFn)(void *, int, DWORD, BOOL);
typedef int(WINAPI *DisposeImageAttributesFn)(void *);
typedef int(WINAPI *DrawImageRectRectIFn)(void *, void *, int, int, int, int, int, int, int, int, int, void *, void *,
                                          void *);

struct GdiPlusApi {
    bool loaded;
    StartupFn startup;
    CreateBitmapFromStreamFn createBitmapFromStream;
    CreateHBITMAPFromBitmapFn createHBITMAPFromBitmap;
    DisposeImageFn disposeImage;
    // For resampling; without them images are only decoded.
    GetImageSizeFn getWidth, getHeight;
    CreateBitmapFromScan0Fn createBitmapFromScan0;
    GetImageGraphicsContextFn getImageGraphicsContext;
    SetGraphicsModeFn setInterpolationMode;
    DeleteGraphicsFn deleteGraphics;
    CreateImageAttributesFn createImageAttributes;
    SetImageAttributesWrapModeFn setImageAttributesWrapMode;
    DisposeImageAttributesFn disposeImageAttributes;
    DrawImageRectRectIFn drawImageRectRectI;
};

GdiPlusApi g_api;
bool g_started = false;

const GdiPlusApi *Api()
{
    if (g_api.loaded)
        return g_api.startup ? &g_api : NULL;
    g_api.loaded = true;
    HMODULE module = LoadSystemLibrary(L"gdiplus.dll");
    if (!module)
        return NULL;
    g_api.createBitmapFromStream = (CreateBitmapFromStreamFn)(void *)GetProcAddress(module, "GdipCreateBitmapFromStream");
    g_api.createHBITMAPFromBitmap = (CreateHBITMAPFromBitmapFn)(void *)GetProcAddress(module, "GdipCreateHBITMAPFromBitmap");
    g_api.disposeImage = (DisposeImageFn)(void *)GetProcAddress(module, "GdipDisposeImage");
    g_api.getWidth = (GetImageSizeFn)(void *)GetProcAddress(module, "GdipGetImageWidth");
    g_api.getHeight = (GetImageSizeFn)(void *)GetProcAddress(module, "GdipGetImageHeight");
    g_api.createBitmapFromScan0 = (CreateBitmapFromScan0Fn)(void *)GetProcAddress(module, "GdipCreateBitmapFromScan0");
    g_api.getImageGraphicsContext =
        (GetImageGraphicsContextFn)(void *)GetProcAddress(module, "GdipGetImageGraphicsContext");
    g_api.setInterpolationMode = (SetGraphicsModeFn)(void *)GetProcAddress(module, "GdipSetInterpolationMode");
    g_api.deleteGraphics = (DeleteGraphicsFn)(void *)GetProcAddress(module, "GdipDeleteGraphics");
    g_api.createImageAttributes = (CreateImageAttributesFn)(void *)GetProcAddress(module, "GdipCreateImageAttributes");
    g_api.setImageAttributesWrapMode =
        (SetImageAttributesWrapModeFn)(void *)GetProcAddress(module, "GdipSetImageAttributesWrapMode");
    g_api.disposeImageAttributes =
        (DisposeImageAttributesFn)(void *)GetProcAddress(module, "GdipDisposeImageAttributes");
    g_api.drawImageRectRectI = (DrawImageRectRectIFn)(void *)GetProcAddress(module, "GdipDrawImageRectRectI");
    StartupFn startup = (StartupFn)(void *)GetProcAddress(module, "GdiplusStartup");
    if (g_api.createBitmapFromStream && g_api.createHBITMAPFromBitmap && g_api.disposeImage)
        g_api.startup = startup;
    return g_api.startup ? &g_api : NULL;
}

}

bool StartGdiPlus()
{
    if (g_started)
        return true;
    const GdiPlusApi *api = Api();
    if (!api)
        return false;
    StartupInput input = {1, NULL, FALSE, FALSE};
    ULONG_PTR token = 0;
    g_started = api->startup(&token, &input, NULL) == 0;
    return g_started;
}

HBITMAP CreateSkinSurface(int width, int height, void **pixels)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    *pixels = NULL;
    HBITMAP section = CreateDIBSection(NULL, &info, DIB_RGB_COLORS, pixels, NULL, 0);
    if (section && !*pixels) {
        DeleteObject(section);
        section = NULL;
    }
    return section;
}

static bool CanResample(const GdiPlusApi *api)
{
    return api->getWidth && api->getHeight && api->createBitmapFromScan0 && api->getImageGraphicsContext &&
           api->setInterpolationMode && api->deleteGraphics && api->createImageAttributes &&
           api->setImageAttributesWrapMode && api->disposeImageAttributes && api->drawImageRectRectI;
}

// Draws `bitmap` into a new 32-bit top-down DIB section of width x height, column by column;
// null on failure. Each column is drawn into a GDI+ bitmap that is a window onto the section's
// own pixels, at its origin: the filter then covers every pixel of the column exactly.
static HBITMAP Resample(const GdiPlusApi *api, void *bitmap, int width, int height, const int *sourceCuts,
                        const int *targetCuts, int columns)
{
    const int pixelFormat32bppPARGB = 0xE200B, interpolationHighQualityBicubic = 7;
    const int wrapTileFlipXY = 3, unitPixel = 2;
    UINT sourceWidth = 0, sourceHeight = 0;
    if (api->getWidth(bitmap, &sourceWidth) != 0 || api->getHeight(bitmap, &sourceHeight) != 0)
        return NULL;
    BYTE *pixels = NULL;
    HBITMAP section = CreateSkinSurface(width, height, (void **)&pixels);
    if (!section)
        return NULL;
    void *attributes = NULL;
    bool drawn = api->createImageAttributes(&attributes) == 0;
    if (drawn)
        // Mirrored edges, so the filter does not fade the border pixels toward transparency.
        api->setImageAttributesWrapMode(attributes, wrapTileFlipXY, 0, FALSE);
    for (int i = 0; i < columns && drawn; ++i) {
        int sx = sourceCuts ? sourceCuts[i] : 0, sw = sourceCuts ? sourceCuts[i + 1] - sx : (int)sourceWidth;
        int tx = targetCuts ? targetCuts[i] : 0, tw = targetCuts ? targetCuts[i + 1] - tx : width;
        void *column = NULL, *graphics = NULL;
        drawn = sw > 0 && tw > 0 && sx + sw <= (int)sourceWidth && tx + tw <= width &&
                api->createBitmapFromScan0(tw, height, width * 4, pixelFormat32bppPARGB, pixels + 4 * tx, &column) == 0 &&
                api->getImageGraphicsContext(column, &graphics) == 0;
        if (drawn) {
            api->setInterpolationMode(graphics, interpolationHighQualityBicubic);
            drawn = api->drawImageRectRectI(graphics, bitmap, 0, 0, tw, height, sx, 0, sw, (int)sourceHeight, unitPixel,
                                            attributes, NULL, NULL) == 0;
        }
        if (graphics)
            api->deleteGraphics(graphics);
        if (column)
            api->disposeImage(column);
    }
    if (attributes)
        api->disposeImageAttributes(attributes);
    if (!drawn) {
        DeleteObject(section);
        return NULL;
    }
    return section;
}

static HBITMAP Decode(const void *bytes, DWORD size, int width, int height, const int *sourceCuts,
                      const int *targetCuts, int columns)
{
    // GDI+ stays started for the whole process, so a decode needs no start of its own (and
    // decodes on two threads never race on starting and stopping it).
    if (!bytes || size == 0 || !StartGdiPlus())
        return NULL;
    const GdiPlusApi *api = Api();
    if (width > 0 && !CanResample(api))
        return NULL;
    HBITMAP result = NULL;
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, size);
    if (block) {
        CopyMemory((void *)block, bytes, size);
        IStream *stream = NULL;
        if (SUCCEEDED(CreateStreamOnHGlobal(block, FALSE, &stream))) {
            void *bitmap = NULL;
            int status = api->createBitmapFromStream(stream, &bitmap);
            stream->Release();
            if (status == 0 && bitmap) {
                if (width > 0)
                    result = Resample(api, bitmap, width, height, sourceCuts, targetCuts, columns);
                else if (api->createHBITMAPFromBitmap(bitmap, &result, 0) != 0)
                    result = NULL;
                api->disposeImage(bitmap);
            }
        }
        GlobalFree(block);
    }
    return result;
}

HBITMAP DecodePngToBitmap(const void *bytes, DWORD size)
{
    return Decode(bytes, size, 0, 0, NULL, NULL, 1);
}

HBITMAP DecodePngResampled(const void *bytes, DWORD size, int width, int height, const int *sourceCuts,
                           const int *targetCuts, int columns)
{
    if (width <= 0 || height <= 0 || columns <= 0)
        return NULL;
    return Decode(bytes, size, width, height, sourceCuts, targetCuts, columns);
}
