// The floor for start-up: a minimal static dialog program that shows one dialog and waits.
#include <windows.h>

static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM, LPARAM)
{
    if (message == WM_CLOSE) {
        EndDialog(window, 0);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    return (int)DialogBoxParamW(instance, MAKEINTRESOURCEW(1), NULL, DialogProc, 0);
}
