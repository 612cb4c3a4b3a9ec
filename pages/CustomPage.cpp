#include "pages/CustomPage.h"
#include "pages/PageSet.h"
#include "base/Format.h"
#include "app/InstallOptions.h"
#include "base/SetupText.h"
#include "base/FileSystem.h"
#include "engine/folder/InstallFolder.h"
#include "skin/SkinStore.h"
#include "resource.h"
#include <shlobj.h>
#include <shlwapi.h>

static const WCHAR kBadFolder[] = L"请输入正确的安装路径";
static const WCHAR kBadFolderCaption[] = L"安装错误提示";

CCustomPage::CCustomPage()
    : CSetupPage(IDD_CUSTOM), m_hDesktop(NULL), m_hQuickLaunch(NULL), m_hDefaultBrowser(NULL), m_hFolder(NULL),
      m_bSettingText(false), m_bBrowsing(false)
{
    m_strLastGoodDir[0] = 0;
}

void CCustomPage::DescribeControls()
{
    const PageControl controls[] = {
        LabelControl(IDC_PAGE_TITLE, m_title, 45, 45, PageControl::kTitleFont),
        LabelControl(IDC_CUSTOM_HEADING, m_heading, 45, 77),
        ButtonControl(IDC_CUSTOM_START, m_start, 125, 320, 117, 33, PageControl::kMediumImages, L"立即安装"),
        ButtonControl(IDC_CUSTOM_BROWSE, m_browse, 421, 111, 75, 26, PageControl::kSmallImages, L"浏览"),
        ButtonControl(IDC_CUSTOM_BACK, m_back, 305, 320, 117, 33, PageControl::kMediumImages, L"返回"),
        LabelControl(IDC_CUSTOM_FOLDER_LABEL, m_folderLabel, 78, 116),
        PlainControl(IDC_CUSTOM_DESKTOP, &m_hDesktop, 76, 185),
        PlainControl(IDC_CUSTOM_QUICK_LAUNCH, &m_hQuickLaunch, 76, 215),
        PlainControl(IDC_CUSTOM_DEFAULT, &m_hDefaultBrowser, 76, 245),
        PlainControl(IDC_CUSTOM_FOLDER, &m_hFolder, 144, 112, 269, 26),
        LabelControl(IDC_CUSTOM_DISK_SPACE, m_diskSpace, 144, 140, 300, 26, PageControl::kTextFont),
    };
    ApplyControls(controls);
}

void CCustomPage::OnInitPage()
{
    // The template's placeholder never shows, even when no free space can be told.
    SetWindowTextW(Item(IDC_CUSTOM_DISK_SPACE), L"");
    const CInstallOptions &options = CInstallOptions::Instance();
    Copy(m_strLastGoodDir, options.m_strInstallDir);
    SetFolderTextQuietly(options.m_strInstallDir);
    UpdateDiskSpace();

    // Ticked, unless the command line said otherwise.
    const struct {
        HWND box;
        BOOL ticked;
    } checks[] = {{m_hDesktop, options.m_bDesktopShortcut},
                  {m_hQuickLaunch, options.m_bQuickLaunch},
                  {m_hDefaultBrowser, options.m_bDefaultBrowser}};
    for (const auto &check : checks)
        SendMessageW(check.box, BM_SETCHECK, check.ticked ? BST_CHECKED : BST_UNCHECKED, 0);
    if (GetOsVersionCode() == kOsWindows7)
        SetWindowTextW(m_hQuickLaunch, L"添加到系统任务栏");
}

void CCustomPage::SetFolderTextQuietly(const WCHAR *text)
{
    m_bSettingText = true;
    SetWindowTextW(m_hFolder, text);
    m_bSettingText = false;
}

void CCustomPage::UpdateDiskSpace()
{
    WCHAR text[kFolderTextChars];
    GetWindowTextW(m_hFolder, text, kFolderTextChars);
    size_t rootLength = DriveRootLength(text);
    if (rootLength == 0 || rootLength >= MAX_PATH)
        return;
    WCHAR root[MAX_PATH];
    size_t start = (size_t)(SkipFolderBlanks(text) - text);
    lstrcpynW(root, text + start, (int)(rootLength - start + 1));

    ULARGE_INTEGER available, total, totalFree;
    if (GetDiskFreeSpaceExW(root, &available, &total, &totalFree)) {
        WCHAR line[128];
        FormatDiskSpaceLine(line, 128, totalFree.QuadPart);
        SetWindowTextW(Item(IDC_CUSTOM_DISK_SPACE), line);
        Copy(m_strLastGoodDir, text);
        RECT label = Scaled(RECT{144, 140, 444, 166});
        InvalidateRect(m_hWnd, &label, TRUE);
        return;
    }
    MessageBoxW(m_hWnd, L"您选择的磁盘不存在！", g_strSetupTitle, MB_OK);
    // The restored text is not asked about again: its drive may have gone away meanwhile, and
    // asking would bring the same box back without end.
    SetFolderTextQuietly(m_strLastGoodDir);
    // Typing goes on at the end of the restored text, not in front of its drive.
    int length = GetWindowTextLengthW(m_hFolder);
    SendMessageW(m_hFolder, EM_SETSEL, length, length);
    InvalidateRect(m_hWnd, NULL, TRUE);
}

void CCustomPage::OnBrowse()
{
    WCHAR title[MAX_PATH], displayName[MAX_PATH];
    Format(title, L"请选择安装%s的文件夹位置", kProductDisplayName);
    BROWSEINFOW info = {};
    // Owned by the page, which stays disabled while the dialog is open.
    info.hwndOwner = m_hWnd;
    info.pszDisplayName = displayName;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    m_bBrowsing = true;
    LPITEMIDLIST pickedItem = SHBrowseForFolderW(&info);
    m_bBrowsing = false;
    if (!pickedItem)
        return;
    WCHAR picked[MAX_PATH] = {};
    bool found = SHGetPathFromIDListW(pickedItem, picked) && picked[0];
    CoTaskMemFree(pickedItem);
    // A picked folder is checked as a typed one: a network folder or one too deep never
    // reaches the text.
    WCHAR folder[MAX_PATH];
    FolderVerdict verdict = found ? PrepareFolderText(picked, folder) : kFolderAccepted;
    if (verdict != kFolderAccepted)
        RefuseFolder(verdict, folder);
    else if (found)
        SetWindowTextW(m_hFolder, picked);
}

void CCustomPage::RefuseFolder(FolderVerdict verdict, const WCHAR *folder)
{
    WCHAR message[256];
    if (!FormatFolderRefusal(verdict, folder, message, 256))
        Copy(message, kBadFolder);
    MessageBoxW(m_hWnd, message, kBadFolderCaption, MB_OK);
}

void CCustomPage::OnStart()
{
    // The whole text is read: a folder too long for the engine is refused, never cut.
    int length = GetWindowTextLengthW(m_hFolder);
    WCHAR text[kFolderTextChars];
    WCHAR folder[MAX_PATH] = L"";
    FolderVerdict verdict = length >= kFolderTextChars || GetWindowTextW(m_hFolder, text, kFolderTextChars) < length
                                ? kFolderTooLong
                                : PrepareFolderText(text, folder);
    if (verdict != kFolderAccepted) {
        RefuseFolder(verdict, folder);
        return;
    }
    // A folder others could change is no place for the elevated setup, unless it holds nothing
    // but the browser's files and can be protected; one that is made here is protected as it is
    // made, before anything else can be written into it. Nothing is kept unless every check
    // passes: the user may go back and install elsewhere.
    bool made = false;
    PreparedFolder prepared = CheckInstallFolder(folder, made);
    if (prepared == kFolderOnNetwork) {
        RefuseFolder(kFolderNetwork, folder);
        return;
    }
    if (prepared == kFolderOthersCouldChange) {
        MessageBoxW(m_hWnd, L"其他用户可以更改这个文件夹或它上层的文件夹，安装到这里不安全，请选择其它安装路径", kBadFolderCaption, MB_OK);
        return;
    }
    if (prepared == kFolderNotMade || !IsFolderWritable(folder)) {
        if (made)
            RemoveMadeFolder(folder);
        MessageBoxW(NULL, L"您的安装目录无法写入，不能继续安装。请选择其它目录再安装。", L"错误", MB_OK);
        return;
    }
    RemoveTrailingBackslash(folder);

    // Everything is stored before the progress page exists: creating it starts the installation.
    // Made here, the folder is still the setup's own: the uninstaller may remove it.
    CInstallOptions &options = CInstallOptions::Instance();
    options.m_bMadeInstallDir = made;
    Copy(options.m_strInstallDir, folder);
    options.m_bDesktopShortcut = SendMessageW(m_hDesktop, BM_GETCHECK, 0, 0) == BST_CHECKED;
    options.m_bQuickLaunch = SendMessageW(m_hQuickLaunch, BM_GETCHECK, 0, 0) == BST_CHECKED;
    options.m_bDefaultBrowser = SendMessageW(m_hDefaultBrowser, BM_GETCHECK, 0, 0) == BST_CHECKED;
    HandOver(CPageSet::Instance().Progress());
}

HBRUSH CCustomPage::StaticBackground(HWND, HDC)
{
    return (HBRUSH)GetStockObject(WHITE_BRUSH);
}

bool CCustomPage::OnCommand(int id, int code)
{
    if (id == IDC_CUSTOM_FOLDER) {
        if (code == EN_CHANGE && !m_bSettingText)
            UpdateDiskSpace();
        return true;
    }
    // Nothing starts while the folder dialog is open.
    if (m_bBrowsing)
        return true;
    switch (id) {
    case IDC_CUSTOM_START:
        OnStart();
        return true;
    case IDC_CUSTOM_BROWSE:
        OnBrowse();
        return true;
    case IDC_CUSTOM_BACK:
        HandOver(CPageSet::Instance().FirstPage(CInstallOptions::Instance().m_nState));
        return true;
    }
    return false;
}
