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

static BOOL CALLBACK AddChild(HWND child, LPARAM list)
{
    ((std::vector<HWND> *)list)->push_back(child);
    return TRUE;
}

std::vector<std::wstring> TextsThatDoNotFit(HWND page, int dpi)
{
    std::vector<HWND> children;
    EnumChildWindows(page, AddChild, (LPARAM)&children);
    std::vector<std::wstring> misfits;
    for (HWND child : children) {
        wchar_t className[32] = {}, text[256] = {};
        GetClassNameW(child, className, 32);
        bool button = lstrcmpiW(className, L"Button") == 0;
        if (!IsWindowVisible(child) || (!button && lstrcmpiW(className, L"Static") != 0) ||
            GetWindowTextW(child, text, 256) == 0)
            continue;
        LONG type = GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
        bool checkBox = button && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX);
        RECT client, measured = {0, 0, 0, 0};
        GetClientRect(child, &client);
        HDC dc = GetDC(child);
        HGDIOBJ previous = SelectObject(dc, (HFONT)SendMessageW(child, WM_GETFONT, 0, 0));
        DrawTextW(dc, text, -1, &measured, DT_SINGLELINE | DT_CALCRECT);
        SelectObject(dc, previous);
        ReleaseDC(child, dc);
        int room = client.right - (checkBox ? MulDiv(16, dpi, 96) : 0);
        if (measured.right > room || measured.bottom > client.bottom)
            misfits.push_back(std::to_wstring(GetDlgCtrlID(child)) + L" " + text + L": " +
                              std::to_wstring(measured.right) + L"x" + std::to_wstring(measured.bottom) + L" in " +
                              std::to_wstring(room) + L"x" + std::to_wstring(client.bottom));
    }
    return misfits;
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
