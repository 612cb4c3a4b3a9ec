#include "skin/CheckBox.h"
#include "base/Format.h"
#include "skin/Accessible.h"
#include <oleacc.h>

bool IsSystemCheckBox(HWND window)
{
    WCHAR className[16];
    if (!GetClassNameW(window, className, 16) || lstrcmpiW(className, L"Button") != 0)
        return false;
    LONG type = GetWindowLongW(window, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX;
}

bool CAccessibleCheckBox::Attach(HWND window)
{
    if (!Subclass(window))
        return false;
    RegisterAccessibleSource(window, this);
    return true;
}

void CAccessibleCheckBox::DescribeForReaders(AccessibleFacts &facts)
{
    bool checked = SendMessageW(m_hWnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
    facts.role = ROLE_SYSTEM_CHECKBUTTON;
    facts.state = checked ? STATE_SYSTEM_CHECKED : 0;
    GetWindowTextW(m_hWnd, facts.name, 256);
    Copy(facts.action, checked ? L"清除" : L"选中");
}

bool CAccessibleCheckBox::DoDefaultAction()
{
    PressLater();
    return true;
}

bool CAccessibleCheckBox::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result)
{
    switch (message) {
    case WM_GETOBJECT:
        result = AnswerAccessibleObject(m_hWnd, wParam, lParam);
        return result != 0;
    case WM_TIMER:
        if (!TakePendingPress(wParam))
            return false;
        SendMessageW(m_hWnd, BM_CLICK, 0, 0);
        return true;
    case WM_SETFOCUS:
        result = CallPrevious(message, wParam, lParam);
        AnnounceFocus(m_hWnd);
        return true;
    case BM_SETCHECK:
        result = CallPrevious(message, wParam, lParam);
        AnnounceStateChange(m_hWnd);
        return true;
    }
    return false;
}
