// What the setup writes into the profile of the account it runs as: that account may change its
// profile without elevation, and could swap any folder there for a link to one only
// administrators may change. So these writes are made with the account's own rights, never with
// the Administrators group's; where those rights cannot be taken on, they are not made.
#include "app/InstallOptions.h"
#include "base/SetupLog.h"
#include "engine/process/Process.h"

HANDLE CInstallOptions::OwnAccountToken()
{
    if (!m_bOwnAccountTried) {
        m_bOwnAccountTried = true;
        m_hOwnAccount = CreateOwnAccountToken();
        if (!m_hOwnAccount)
            LogStep(L"无法取得本帐户不含管理员权限的令牌：快速启动栏、收藏栏链接和浏览器设置不写入");
    }
    return m_hOwnAccount;
}

void CInstallOptions::ForgetOwnAccountToken()
{
    if (m_hOwnAccount)
        CloseHandle(m_hOwnAccount);
    m_hOwnAccount = NULL;
    m_bOwnAccountTried = false;
}

bool CInstallOptions::DataInProfile() const
{
    return m_nOsVersion > kOsWindowsServer2003;
}

void CInstallOptions::WriteIniValue(const WCHAR *section, const WCHAR *key, const WCHAR *value, bool onlyIfOne)
{
    if (!m_strIniPath[0])
        return;
    bool inProfile = DataInProfile();
    // In the profile the ini is the account's own part: none for the machine's account.
    if (inProfile && !m_bUserParts)
        return;
    CThreadToken rights(inProfile ? OwnAccountToken() : NULL);
    if (inProfile && !rights.Acting())
        return;
    if (!onlyIfOne || GetPrivateProfileIntW(section, key, 0, m_strIniPath) == 1)
        WritePrivateProfileStringW(section, key, value, m_strIniPath);
}
