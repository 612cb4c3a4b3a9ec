// The holder of the wizard's pages: each is created, hidden, on its first request and lives
// until the process ends.
#pragma once
#include "pages/AgreementPage.h"
#include "pages/CustomPage.h"
#include "pages/DowngradePage.h"
#include "pages/FinishPage.h"
#include "pages/ProgressPage.h"
#include "pages/SetupPage.h"
#include "pages/UpgradePage.h"
#include "pages/WelcomePage.h"

class CPageSet {
public:
    enum Slot { kWelcome, kProgress, kFinish, kCustom, kUpgrade, kLicense, kDowngrade, kPrivacy, kSlotCount };

    static CPageSet &Instance();

    CWelcomePage *Welcome();
    CProgressPage *Progress();
    CFinishPage *Finish();
    CCustomPage *Custom();
    CUpgradePage *Upgrade();
    CDowngradePage *Downgrade();
    CLicensePage *License();
    CPrivacyPage *Privacy();

    // The page the setup opens with for an installation state: welcome, upgrade or downgrade.
    CSetupPage *FirstPage(int state);

private:
    CPageSet();
    template <class Page> Page *Get(Slot slot);

    CSetupPage *m_pages[kSlotCount];
};
