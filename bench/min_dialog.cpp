// The floor for start-up: a minimal static dialog program that shows one dialog and waits. Built
// a second time with COMMON_CONTROLS_6: then with the setup's manifest and the common controls
// it starts, the least any program pays that uses them.
#include <windows.h>
#ifdef COMMON_CONTROLS_6
#include <commctrl.h>
#endif

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
#ifdef COMMON_CONTROLS_6
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
    InitCommonControlsEx(&controls);
#endif
    return (int)DialogBoxParamW(instance, MAKEINTRESOURCEW(1), NULL, DialogProc, 0);
}
