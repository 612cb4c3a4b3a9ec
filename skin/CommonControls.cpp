#include "skin/CommonControls.h"
#include "base/DllSafety.h"

namespace {

typedef BOOL(WINAPI *InitCommonControlsExFn)(const INITCOMMONCONTROLSEX *);
typedef HIMAGELIST(WINAPI *ImageListCreateFn)(int, int, UINT, int, int);
typedef int(WINAPI *ImageListAddFn)(HIMAGELIST, HBITMAP, HBITMAP);
typedef BOOL(WINAPI *ImageListSetImageCountFn)(HIMAGELIST, UINT);
typedef BOOL(WINAPI *ImageListDrawFn)(HIMAGELIST, int, HDC, int, int, UINT);

struct CommonControlsApi {
    InitCommonControlsExFn initCommonControlsEx;
    ImageListCreateFn create;
    ImageListAddFn add;
    ImageListSetImageCountFn setImageCount;
    ImageListDrawFn draw;
};

const CommonControlsApi &Api()
{
    static CommonControlsApi api;
    static bool loaded = false;
    if (loaded)
        return api;
    loaded = true;
    // By its bare name only where the process's activation context, from the manifest, turns the
    // name into version 6 in the side-by-side store; else by its path in the system folder. A bare
    // name the context does not redirect could be searched for in the setup's own folder where the
    // system cannot limit the search (Windows 7 without its update).
    ACTCTX_SECTION_KEYED_DATA redirection = {};
    redirection.cbSize = sizeof(redirection);
    HMODULE module = FindActCtxSectionStringW(0, NULL, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll",
                                              &redirection)
                         ? LoadLibraryW(L"comctl32.dll")
                         : LoadSystemLibrary(L"comctl32.dll");
    if (!module)
        return api;
    api.initCommonControlsEx = (InitCommonControlsExFn)(void *)GetProcAddress(module, "InitCommonControlsEx");
    api.create = (ImageListCreateFn)(void *)GetProcAddress(module, "ImageList_Create");
    api.add = (ImageListAddFn)(void *)GetProcAddress(module, "ImageList_Add");
    api.setImageCount = (ImageListSetImageCountFn)(void *)GetProcAddress(module, "ImageList_SetImageCount");
    api.draw = (ImageListDrawFn)(void *)GetProcAddress(module, "ImageList_Draw");
    return api;
}

}

bool InitCommonControlsClasses(DWORD classes)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), classes};
    return Api().initCommonControlsEx && Api().initCommonControlsEx(&controls);
}

HIMAGELIST CreateImageList(int width, int height, UINT flags, int initial, int grow)
{
    return Api().create ? Api().create(width, height, flags, initial, grow) : NULL;
}

int AddToImageList(HIMAGELIST list, HBITMAP image, HBITMAP mask)
{
    return Api().add ? Api().add(list, image, mask) : -1;
}

BOOL SetImageListCount(HIMAGELIST list, UINT count)
{
    return Api().setImageCount ? Api().setImageCount(list, count) : FALSE;
}

BOOL DrawFromImageList(HIMAGELIST list, int index, HDC dc, int x, int y, UINT style)
{
    return Api().draw ? Api().draw(list, index, dc, x, y, style) : FALSE;
}
