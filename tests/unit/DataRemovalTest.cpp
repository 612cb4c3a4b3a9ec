// Whose browsing data an uninstall removes, and who removes it, from the users of this process
// and of the desktop shell.
#include <gtest/gtest.h>
#include "engine/removal/Uninstall.h"
#include <sddl.h>

namespace {

struct Sid {
    PSID sid = nullptr;
    explicit Sid(const wchar_t *text)
    {
        if (text) {
            EXPECT_TRUE(ConvertStringSidToSidW(text, &sid)) << text;
        }
    }
    ~Sid() { LocalFree(sid); }
};

TEST(DataRemoval, TheDataThatGoesIsTheDesktopUsersAndOnlyWithHisRights)
{
    const wchar_t *const user = L"S-1-5-21-1004336348-1177238915-682003330-1001";
    const wchar_t *const administrator = L"S-1-5-21-1004336348-1177238915-682003330-500";
    const wchar_t *const system = L"S-1-5-18";
    struct Case {
        const char *what;
        const wchar_t *self, *desktop;
        bool elevatedSplitToken;
        DataRemovalRoad road;
    } cases[] = {
        {"the desktop's own user, no more rights than the desktop", user, user, false, kDataRemovedHere},
        {"the desktop's user, elevated", user, user, true, kDataRemovedByHelper},
        {"the Administrator's password typed for a standard user", administrator, user, false, kDataRemovedByHelper},
        {"the machine's account beside a signed-in user", system, user, false, kDataRemovedByHelper},
        {"no desktop shell", user, nullptr, false, kDataRemovedByNobody},
        {"no desktop shell, elevated", user, nullptr, true, kDataRemovedByNobody},
        {"the machine's account without a desktop", system, nullptr, false, kDataRemovedByNobody},
    };
    for (const Case &c : cases) {
        Sid self(c.self), desktop(c.desktop);
        EXPECT_EQ(c.road, ChooseDataRemovalRoad(self.sid, desktop.sid, c.elevatedSplitToken)) << c.what;
    }
}

}
