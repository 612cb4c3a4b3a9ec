// Loads DLLs by bare name, the way a careless program would; proves that the planted-DLL test
// can catch a load from the program's own folder.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    LoadLibraryW(L"gdiplus.dll");
    LoadLibraryW(L"msimg32.dll");
    LoadLibraryW(L"comctl32.dll");
    return 0;
}
