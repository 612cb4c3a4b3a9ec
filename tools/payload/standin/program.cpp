// Stand-in for the browser's helper programs (WebApp.exe, UnInst.exe): starts and exits.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    return 0;
}
