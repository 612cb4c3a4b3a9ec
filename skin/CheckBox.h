// A check box of the system's, as the pages have them, that tells screen readers its name, role
// and state (on Wine the system's own object calls it a client area), and says when it takes the
// focus or changes.
#pragma once
#include "skin/Accessible.h"
#include "skin/SubclassedControl.h"

class CAccessibleCheckBox : public CSubclassedControl, public CAccessibleSource {
public:
    bool Attach(HWND window);
    void DescribeForReaders(AccessibleFacts &facts) override;
    bool DoDefaultAction() override;

protected:
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result) override;
};

// Whether a window is a check box of the system's "Button" class.
bool IsSystemCheckBox(HWND window);
