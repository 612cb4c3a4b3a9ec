#include "app/SetupMessages.h"
#include <ntsecapi.h>

LPARAM SetupMessageKey()
{
    static volatile LONG_PTR key = 0;
    if (!key) {
        LONG_PTR made = 0;
        // Never 0, the lParam every outside message of these numbers most likely has.
        while (!made) {
            if (!RtlGenRandom(&made, sizeof(made)))
                made = (LONG_PTR)GetTickCount() ^ ((LONG_PTR)GetCurrentProcessId() << 16) ^ (LONG_PTR)&made;
        }
        InterlockedCompareExchangePointer((PVOID volatile *)&key, (PVOID)made, NULL);
    }
    return (LPARAM)key;
}

BOOL PostSetupMessage(HWND window, UINT message, WPARAM wParam)
{
    return PostMessageW(window, message, wParam, SetupMessageKey());
}
