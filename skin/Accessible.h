// What the skinned pages and controls tell screen readers, through Active Accessibility, which
// they read on every Windows version. The controls paint themselves, so the system's own
// descriptions of them are bare or wrong (on Windows an owner-drawn link is static text; Wine's
// oleacc calls every control a client area). Each control therefore answers WM_GETOBJECT with the
// system's object for its client area, with its name, role, state, value and default action put
// right, which the object asks the control for by calling it: no window message carries them,
// since any program that may send to the setup's windows could send one.
#pragma once
#include <windows.h>

struct AccessibleFacts {
    long role;          // ROLE_SYSTEM_*
    long state;         // STATE_SYSTEM_* beyond those the window's own state gives
    WCHAR name[256];
    WCHAR value[32];    // empty: the control has no value
    WCHAR action[16];   // the default action's name; empty: none
};

// A control as its accessible object sees it.
class CAccessibleSource {
public:
    virtual ~CAccessibleSource() {}
    // Fills in what the control says of itself (`facts` comes zeroed).
    virtual void DescribeForReaders(AccessibleFacts &facts) = 0;
    // Carries out the default action, without waiting for what it starts; false where there is
    // none.
    virtual bool DoDefaultAction() { return false; }
};

// Makes `source` the one a control's accessible object asks, from now on (null: none, as when
// the window is destroyed). Called on the control's own thread.
void RegisterAccessibleSource(HWND window, CAccessibleSource *source);

// The answer to WM_GETOBJECT for a control with a registered source: its client area's object;
// 0 for any other object, or where Active Accessibility is missing, so that the system answers.
LRESULT AnswerAccessibleObject(HWND window, WPARAM wParam, LPARAM lParam);

// Tells screen readers that the control took the focus, or changed its state or its value.
void AnnounceFocus(HWND window);
void AnnounceStateChange(HWND window);
void AnnounceValueChange(HWND window);
