#include "pages/PageSet.h"
#include "pages/AgreementPage.h"
#include "pages/FinishPage.h"
#include "pages/ProgressPage.h"
#include "pages/WelcomePage.h"

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

CSetupPage *CPageSet::Custom()
{
    // The custom installation page is not part of the wizard yet.
    return m_pages[kCustom];
}

CSetupPage *CPageSet::FirstPage(int)
{
    // The folder detection always yields state 0, and the upgrade and downgrade pages that
    // other states would open with are not part of the wizard yet: the welcome page opens.
    return Welcome();
}
