// The custom installation page: the install folder (typed or picked) with the free space of its
// drive, and the three choices. "开始安装" checks the folder, stores everything and starts the
// installation; "返  回" goes back to the first page without storing anything.
#pragma once
#include "pages/FolderText.h"
#include "pages/SetupPage.h"
#include "skin/ImageButton.h"
#include "skin/TransparentLabel.h"

class CCustomPage : public CSetupPage {
public:
    CCustomPage();

    CTransparentLabel m_title;
    CTransparentLabel m_heading;
    CTransparentLabel m_diskSpace;
    CTransparentLabel m_folderLabel;
    CImageButton m_start;
    CImageButton m_browse;
    CImageButton m_back;
    HWND m_hDesktop;
    HWND m_hQuickLaunch;
    HWND m_hDefaultBrowser;
    HWND m_hFolder;
    // The last folder text whose drive answered the free-space query.
    WCHAR m_strLastGoodDir[kFolderTextChars];

protected:
    void DescribeControls() override;
    void OnInitPage() override;
    HBRUSH StaticBackground(HWND control, HDC dc) override;
    bool OnCommand(int id, int code) override;

private:
    void UpdateDiskSpace();
    // Puts text into the folder box without a free-space query of its own.
    void SetFolderTextQuietly(const WCHAR *text);
    void OnBrowse();
    // Tells the user why the folder cannot be taken.
    void RefuseFolder(FolderVerdict verdict, const WCHAR *folder);
    void OnStart();

    bool m_bSettingText;
    bool m_bBrowsing;
};
