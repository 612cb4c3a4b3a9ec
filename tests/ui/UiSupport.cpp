#include "ui/UiSupport.h"
#include "app/InstallWorker.h"
#include "app/SetupMessages.h"
#include "base/SetupText.h"
#include "skin/GdiPlus.h"
#include "skin/SkinStore.h"
#include <commctrl.h>

namespace test {

namespace {

// Takes the setup's commands and does nothing with them: the pages run without the engine.
class IdleWorker : public CInstallWorker {
public:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_SETUP_EXTRACT || message == WM_SETUP_INSTALL || message == WM_SETUP_FINISH)
            return 0;
        return CInstallWorker::HandleMessage(message, wParam, lParam);
    }
};

}

void StartIdleWorker()
{
    StartWorker(new IdleWorker());
}

CMessageLoop &UiLoop()
{
    static CMessageLoop loop;
    return loop;
}

void PrepareUserInterface()
{
    static bool prepared = false;
    if (prepared)
        return;
    prepared = true;
    FormatSetupTitle();
    FormatExitPrompt();
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
    InitCommonControlsEx(&controls);
    MessageLoops::Initialize();
    MessageLoops::Register(&UiLoop());
    StartGdiPlus();
    CreateSkinFonts();
}

CommandRecorder::CommandRecorder()
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
        wc.lpszClassName = L"VelmarinTestParent";
        RegisterClassW(&wc);
        registered = true;
    }
    m_window = CreateWindowExW(0, L"VelmarinTestParent", L"parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 400, 300,
                               nullptr, nullptr, GetModuleHandleW(nullptr), this);
}

CommandRecorder::~CommandRecorder()
{
    DestroyWindow(m_window);
}

LRESULT CALLBACK CommandRecorder::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)((CREATESTRUCTW *)lParam)->lpCreateParams);
    CommandRecorder *self = (CommandRecorder *)GetWindowLongPtrW(window, GWLP_USERDATA);
    if (self && message == WM_COMMAND) {
        self->commands.push_back({LOWORD(wParam), HIWORD(wParam), (HWND)lParam, GetCapture() == (HWND)lParam});
        return 0;
    }
    if (message == WM_CTLCOLORSTATIC)
        return (LRESULT)GetStockObject(WHITE_BRUSH);
    return DefWindowProcW(window, message, wParam, lParam);
}

void HoldKey(int key, bool down)
{
    BYTE state[256];
    GetKeyboardState(state);
    state[key] = down ? 0x80 : 0;
    SetKeyboardState(state);
}

void PressLikeTheUser(HWND control)
{
    wchar_t className[16] = {};
    GetClassNameW(control, className, 16);
    if (lstrcmpiW(className, L"Static") == 0) {
        HoldKey(VK_RETURN, true);
        SendMessageW(control, WM_CHAR, VK_RETURN, 0);
        HoldKey(VK_RETURN, false);
        return;
    }
    HoldKey(VK_LBUTTON, true);
    SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    HoldKey(VK_LBUTTON, false);
    SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
}

std::vector<DWORD> RenderClient(HWND window, int &width, int &height)
{
    RECT client;
    GetClientRect(window, &client);
    width = client.right;
    height = client.bottom;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP surface = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, surface);
    RECT all = {0, 0, width, height};
    FillRect(memory, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
    SendMessageW(window, WM_PRINTCLIENT, (WPARAM)memory, PRF_CLIENT);
    GdiFlush();
    std::vector<DWORD> pixels((DWORD *)bits, (DWORD *)bits + width * height);
    SelectObject(memory, previous);
    DeleteObject(surface);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

}
