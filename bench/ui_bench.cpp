// User-interface timings of the real setup under Wine, measured from outside the setup:
//  1. start to the first page as a person sees it (a pixel of the illustration on the screen,
//     and the process ready for input), against a minimal static dialog program and an empty
//     NSIS Modern UI 2 installer (ready for input with a visible window), and, when given, the
//     minimal dialog built with the setup's manifest and common controls 6; medians of 9 starts;
//  2. "立即安装" to the finish page once the extraction has finished, against the animation's
//     own floor (100 ticks of 10 ms plus the 200 ms pause);
//  3. the longest time the pages take to answer a message while the worker extracts and
//     copies (a probe sends one every 10 ms).
// Usage: ui_bench.exe <VelmarinSetup.exe> <min_dialog.exe> <empty_mui2.exe> [<min_dialog_cc6.exe>]
#include <windows.h>
#include <stdio.h>
#include <algorithm>
#include <string>
#include <vector>

static double Now()
{
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

struct Search {
    DWORD process;
    int controlId;
    HWND found;
};

static BOOL CALLBACK FindVisible(HWND window, LPARAM param)
{
    Search *search = (Search *)param;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->process && IsWindowVisible(window) &&
        (search->controlId == 0 || GetDlgItem(window, search->controlId))) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static HWND VisibleWindow(DWORD process, int controlId)
{
    Search search = {process, controlId, NULL};
    EnumWindows(FindVisible, (LPARAM)&search);
    return search.found;
}

static HWND WaitVisible(DWORD process, int controlId, DWORD timeoutMs)
{
    double start = Now();
    while (Now() - start < timeoutMs) {
        if (HWND window = VisibleWindow(process, controlId))
            return window;
        Sleep(1);
    }
    return NULL;
}

static PROCESS_INFORMATION Start(const std::wstring &exe)
{
    std::wstring line = L"\"" + exe + L"\"";
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
    CloseHandle(process.hThread);
    return process;
}

static void End(PROCESS_INFORMATION &process)
{
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hProcess);
}

static double StartToWindow(const std::wstring &exe, int controlId)
{
    double start = Now();
    PROCESS_INFORMATION process = Start(exe);
    HWND window = WaitVisible(process.dwProcessId, controlId, 20000);
    double elapsed = Now() - start;
    End(process);
    Sleep(300);
    return window ? elapsed : -1;
}

// Start until the process takes input and shows a window: what a person sees of a plain dialog.
static double StartToReady(const std::wstring &exe)
{
    double start = Now();
    PROCESS_INFORMATION process = Start(exe);
    WaitForInputIdle(process.hProcess, 20000);
    HWND window = WaitVisible(process.dwProcessId, 0, 20000);
    if (window)
        UpdateWindow(window);
    double elapsed = Now() - start;
    End(process);
    Sleep(300);
    return window ? elapsed : -1;
}

// The pale blue in the middle of the welcome page's globe, not the white page under it.
static bool IllustrationPainted(HWND page)
{
    POINT at = {310 + 123, 140 + 119};
    ClientToScreen(page, &at);
    // Read back through a copy: the screen's own context does not answer GetPixel everywhere.
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP pixel = CreateCompatibleBitmap(screen, 1, 1);
    HGDIOBJ previous = SelectObject(memory, pixel);
    BitBlt(memory, 0, 0, 1, 1, screen, at.x, at.y, SRCCOPY);
    COLORREF colour = GetPixel(memory, 0, 0);
    SelectObject(memory, previous);
    DeleteObject(pixel);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return colour != CLR_INVALID && GetBValue(colour) > GetRValue(colour) + 30;
}

// Start until the welcome page is painted: its illustration on the screen, input accepted.
static double StartToPaintedPage(const std::wstring &exe)
{
    double start = Now();
    PROCESS_INFORMATION process = Start(exe);
    HWND page = WaitVisible(process.dwProcessId, 1000, 20000);
    while (page && !IllustrationPainted(page) && Now() - start < 20000)
        Sleep(1);
    WaitForInputIdle(process.hProcess, 20000);
    double elapsed = Now() - start;
    End(process);
    Sleep(300);
    return page ? elapsed : -1;
}

static double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Presses `button` as a person does, with the pointer: the setup takes no click a program posts.
// The time of the press.
static double Press(HWND button)
{
    RECT rect;
    GetWindowRect(button, &rect);
    POINT point = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    INPUT inputs[3] = {};
    for (INPUT &input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = point.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
        input.mi.dy = point.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    }
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    inputs[2].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &inputs[0], sizeof(INPUT));
    for (double start = Now(); WindowFromPoint(point) != button && Now() - start < 2000;)
        Sleep(10);
    double pressed = Now();
    SendInput(1, &inputs[1], sizeof(INPUT));
    SendInput(1, &inputs[2], sizeof(INPUT));
    return pressed;
}

// One road with a payload of any size: start the setup, press "立即安装" once the welcome page is
// there (after `delayMs` more), and time it to the finish page.
static int Road(const std::wstring &setup, DWORD delayMs)
{
    PROCESS_INFORMATION process = Start(setup);
    HWND welcome = WaitVisible(process.dwProcessId, 1000, 20000);
    if (!welcome) {
        End(process);
        printf("no welcome page\n");
        return 1;
    }
    Sleep(delayMs);
    double clicked = Press(GetDlgItem(welcome, 1000));
    HWND finish = WaitVisible(process.dwProcessId, 1017, 120000);
    double toFinish = Now() - clicked;
    printf("pressed %lu ms after the welcome page appeared: finish page after %.0f ms (floor 1200 ms, ratio %.2f)\n",
           delayMs, toFinish, toFinish / 1200);
    End(process);
    return finish ? 0 : 1;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc == 4 && wcscmp(argv[1], L"--road") == 0)
        return Road(argv[2], (DWORD)_wtoi(argv[3]));
    if (argc < 4) {
        printf("usage: ui_bench <VelmarinSetup.exe> <min_dialog.exe> <empty_mui2.exe> [<min_dialog_cc6.exe>]\n");
        return 2;
    }
    std::wstring setup = argv[1], dialog = argv[2], nsis = argv[3], themed = argc > 4 ? argv[4] : L"";
    StartToReady(dialog);  // warm the desktop and the file cache
    StartToReady(nsis);
    if (!themed.empty())
        StartToReady(themed);
    StartToPaintedPage(setup);
    std::vector<double> dialogTimes, nsisTimes, themedTimes, setupTimes, visibleTimes;
    for (int i = 0; i < 9; ++i) {
        dialogTimes.push_back(StartToReady(dialog));
        nsisTimes.push_back(StartToReady(nsis));
        if (!themed.empty())
            themedTimes.push_back(StartToReady(themed));
        setupTimes.push_back(StartToPaintedPage(setup));
        visibleTimes.push_back(StartToWindow(setup, 1000));
    }
    double floorStart = Median(dialogTimes), nsisStart = Median(nsisTimes), setupStart = Median(setupTimes);
    printf("start to first page painted (medians of 9): setup %.0f ms (visible at %.0f ms), minimal dialog %.0f ms, "
           "empty NSIS Modern UI 2 installer %.0f ms\n",
           setupStart, Median(visibleTimes), floorStart, nsisStart);
    printf("ratios: setup / minimal dialog %.2f (goal: at most 1.20), setup / NSIS %.2f, NSIS / minimal dialog %.2f\n",
           setupStart / floorStart, setupStart / nsisStart, nsisStart / floorStart);
    if (!themedTimes.empty()) {
        double themedStart = Median(themedTimes);
        printf("minimal dialog with the setup's manifest and common controls 6: %.0f ms, %.2f times the minimal "
               "dialog; setup / it %.2f\n",
               themedStart, themedStart / floorStart, setupStart / themedStart);
    }

    // Install to finish, with the extraction done first; the probe runs throughout.
    PROCESS_INFORMATION process = Start(setup);
    HWND welcome = WaitVisible(process.dwProcessId, 1000, 20000);
    double worst = 0, startProbe = Now();
    auto probe = [&](HWND window, double until) {
        while (Now() < until) {
            double sent = Now();
            DWORD_PTR result = 0;
            SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
            worst = std::max(worst, Now() - sent);
            Sleep(10);
        }
    };
    probe(welcome, startProbe + 3000);  // the worker extracts meanwhile
    double extractionWorst = worst;
    double clicked = Press(GetDlgItem(welcome, 1000));
    HWND progress = WaitVisible(process.dwProcessId, 1013, 5000);
    worst = 0;
    HWND finish = NULL;
    std::vector<double> answers;
    while (!finish && Now() - clicked < 20000) {
        double sent = Now();
        DWORD_PTR result = 0;
        if (progress)
            SendMessageTimeoutW(progress, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
        answers.push_back(Now() - sent);
        finish = VisibleWindow(process.dwProcessId, 1017);
        Sleep(10);
    }
    double toFinish = Now() - clicked;
    // The 200 ms pause at 100 % is meant; it is the one long answer allowed.
    std::sort(answers.begin(), answers.end());
    double secondWorst = answers.size() > 1 ? answers[answers.size() - 2] : 0;
    printf("install to finish page: %.0f ms, floor 1200 ms, ratio %.3f (goal: at most 1.15)\n", toFinish, toFinish / 1200);
    printf("longest answer while extracting: %.1f ms; while installing: %.1f ms, and %.1f ms but for the 200 ms pause "
           "(goal: at most 50)\n",
           extractionWorst, answers.empty() ? 0 : answers.back(), secondWorst);
    End(process);
    return 0;
}
