#include "pages/PageSet.h"
#include "pages/AgreementPage.h"
#include "pages/FinishPage.h"
#include "pages/ProgressPage.h"
#include "pages/WelcomePage.h"
#include "app/Versions.h"

CPageSet &CPageSet::Instance()
{
    static CPageSet *pages = new CPageSet();
    return *pages;
}

CPageSet::CPageSet()
{
    for (CSetupPage *&page : m_pages)
        page = NULL;
}

template <class Page> Page *CPageSet::Get(Slot slot)
{
    if (!m_pages[slot]) {
        Page *page = new Page();
        m_pages[slot] = page;
        page->Create();
    }
    return static_cast<Page *>(m_pages[slot]);
}

CWelcomePage *CPageSet::Welcome() { return Get<CWelcomePage>(kWelcome); }
CProgressPage *CPageSet::Progress() { return Get<CProgressPage>(kProgress); }
CFinishPage *CPageSet::Finish() { return Get<CFinishPage>(kFinish); }
CLicensePage *CPageSet::License() { return Get<CLicensePage>(kLicense); }
CPrivacyPage *CPageSet::Privacy() { return Get<CPrivacyPage>(kPrivacy); }

CCustomPage *CPageSet::Custom() { return Get<CCustomPage>(kCustom); }
CUpgradePage *CPageSet::Upgrade() { return Get<CUpgradePage>(kUpgrade); }
CDowngradePage *CPageSet::Downgrade() { return Get<CDowngradePage>(kDowngrade); }

CSetupPage *CPageSet::FirstPage(int state)
{
    switch (FirstPageForState(state)) {
    case kFirstDowngrade:
        return Downgrade();
    case kFirstUpgrade:
        return Upgrade();
    default:
        return Welcome();
    }
}
