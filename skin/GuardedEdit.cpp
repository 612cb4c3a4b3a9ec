#include "skin/GuardedEdit.h"

bool IsSystemEdit(HWND window)
{
    WCHAR className[8];
    return GetClassNameW(window, className, 8) && lstrcmpiW(className, L"Edit") == 0;
}

bool CGuardedEdit::HandleMessage(UINT message, WPARAM, LPARAM, LRESULT &result)
{
    switch (message) {
    case EM_SETWORDBREAKPROC:
    case EM_SETHANDLE:
        result = 0;
        return true;
    }
    return false;
}
