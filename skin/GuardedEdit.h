// An edit control of the system's, as the pages have them, that takes no word-break procedure
// and no buffer handle: any program on the desktop may send it those, and the control would call
// the address or use the handle it was given, in the elevated process.
#pragma once
#include "skin/SubclassedControl.h"

class CGuardedEdit : public CSubclassedControl {
public:
    bool Attach(HWND window) { return Subclass(window); }

protected:
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result) override;
};

// Whether a window is an edit control of the system's "Edit" class.
bool IsSystemEdit(HWND window);
