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

struct GdiPlusApi {
    bool loaded;
    StartupFn startup;
    CreateBitmapFromStreamFn createBitmapFromStream;
    CreateHBITMAPFromBitmapFn createHBITMAPFromBitmap;
    DisposeImageFn disposeImage;
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

HBITMAP DecodePngToBitmap(const void *bytes, DWORD size)
{
    // GDI+ stays started for the whole process, so a decode needs no start of its own (and
    // decodes on two threads never race on starting and stopping it).
    if (!bytes || size == 0 || !StartGdiPlus())
        return NULL;
    const GdiPlusApi *api = Api();
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
                if (api->createHBITMAPFromBitmap(bitmap, &result, 0) != 0)
                    result = NULL;
                api->disposeImage(bitmap);
            }
        }
        GlobalFree(block);
    }
    return result;
}
