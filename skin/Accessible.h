// What the skinned pages and controls tell screen readers, through Active Accessibility, which
// they read on every Windows version. The controls paint themselves, so the system's own
// descriptions of them are bare or wrong (on Windows an owner-drawn link is static text; Wine's
// oleacc calls every control a client area). Each control therefore answers WM_GETOBJECT with the
// system's object for its client area, with its name, role, state, value and default action put
// right, which it gives when asked with WM_ACCESSIBLE_FACTS.
#pragma once
#include <windows.h>

struct AccessibleFacts {
    long role;          // ROLE_SYSTEM_*
    long state;         // STATE_SYSTEM_* beyond those the window's own state gives
    WCHAR name[256];
    WCHAR value[32];    // empty: the control has no value
    WCHAR action[16];   // the default action's name; empty: none
};

enum : UINT {
    // Sent to a control on its own thread by its accessible object. wParam points to the facts to
    // fill in, or is null: then the control carries out its default action (without waiting for
    // what that starts). A control that answers returns 1.
    WM_ACCESSIBLE_FACTS = WM_APP + 0x2A0,
};

// The answer to WM_GETOBJECT for a control that answers WM_ACCESSIBLE_FACTS: its client area's
// object; 0 for any other object, or where Active Accessibility is missing, so that the system
// answers.
LRESULT AnswerAccessibleObject(HWND window, WPARAM wParam, LPARAM lParam);

// Tells screen readers that the control took the focus, or changed its state or its value.
void AnnounceFocus(HWND window);
void AnnounceStateChange(HWND window);
void AnnounceValueChange(HWND window);
