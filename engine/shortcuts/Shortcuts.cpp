#include "engine/shortcuts/Shortcuts.h"
#include "base/FileSystem.h"
#include "app/InstallOptions.h"
#include "base/Format.h"
#include "base/SetupLog.h"
#include "engine/Product.h"
#include "engine/process/Process.h"
#include <shlobj.h>
#include <shlwapi.h>
#include <intshcut.h>

const WCHAR kBrowserLinkName[] = L"岚舟 3.lnk";
const WCHAR kOldBrowserLinkName[] = L"Velmarin 3.0.lnk";

bool CreateShortcut(const WCHAR *target, const WCHAR *linkPath, const WCHAR *arguments)
{
    IShellLinkW *link = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void **)&link)))
        return false;
    link->SetPath(target);
    WCHAR folder[MAX_PATH];
    Copy(folder, target);
    PathRemoveFileSpecW(folder);
    link->SetWorkingDirectory(folder);
    if (arguments)
        link->SetArguments(arguments);
    bool saved = false;
    IPersistFile *file = NULL;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file))) {
        saved = SUCCEEDED(file->Save(linkPath, TRUE));
        file->Release();
    }
    link->Release();
    return saved;
}

bool CreateUrlShortcut(const WCHAR *url, const WCHAR *filePath)
{
    IUniformResourceLocatorW *locator = NULL;
    if (FAILED(CoCreateInstance(CLSID_InternetShortcut, NULL, CLSCTX_INPROC_SERVER, IID_IUniformResourceLocatorW,
                                (void **)&locator)))
        return false;
    bool saved = false;
    if (SUCCEEDED(locator->SetURL(url, 0))) {
        IPersistFile *file = NULL;
        if (SUCCEEDED(locator->QueryInterface(IID_IPersistFile, (void **)&file))) {
            saved = SUCCEEDED(file->Save(filePath, TRUE));
            file->Release();
        }
    }
    locator->Release();
    return saved;
}

static volatile LONG g_linkObjectsThreads = 0;

static void CreateLinkObjects()
{
    IUnknown *object = NULL;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, (void **)&object)))
        object->Release();
    object = NULL;
    if (SUCCEEDED(CoCreateInstance(CLSID_InternetShortcut, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, (void **)&object)))
        object->Release();
}

void PrepareLinkObjects()
{
    if (InterlockedCompareExchange(&g_linkObjectsThreads, 0, 0) == 0)
        CreateLinkObjects();
}

CLinkObjectsThread::CLinkObjectsThread()
{
    InterlockedIncrement(&g_linkObjectsThreads);
    m_hEnd = CreateEventW(NULL, TRUE, FALSE, NULL);
    m_hThread = m_hEnd ? CreateThread(NULL, 0, Run, m_hEnd, 0, NULL) : NULL;
}

CLinkObjectsThread::~CLinkObjectsThread()
{
    if (m_hThread) {
        SetEvent(m_hEnd);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
    }
    if (m_hEnd)
        CloseHandle(m_hEnd);
    InterlockedDecrement(&g_linkObjectsThreads);
}

DWORD WINAPI CLinkObjectsThread::Run(LPVOID param)
{
    HANDLE end = (HANDLE)param;
    HRESULT initialised = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(initialised))
        CreateLinkObjects();
    // An apartment answers its window's messages while it lives.
    while (MsgWaitForMultipleObjects(1, &end, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    if (SUCCEEDED(initialised))
        CoUninitialize();
    return 0;
}

static DWORD WINAPI WriteLinkFile(LPVOID param)
{
    LinkFile *link = (LinkFile *)param;
    // An apartment of this thread's own: the shell's objects live and are called here, never
    // handed to another thread.
    HRESULT initialised = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    {
        CThreadToken rights(link->accountsOwn ? link->accountToken : NULL);
        if (!link->accountsOwn || rights.Acting())
            link->saved = link->url ? CreateUrlShortcut(link->url, link->path)
                                    : CreateShortcut(link->target, link->path, link->arguments);
    }
    if (SUCCEEDED(initialised))
        CoUninitialize();
    return 0;
}

void WriteLinkFiles(LinkFile *links, int count)
{
    const int kMostAtOnce = 8;
    for (int first = 0; first < count; first += kMostAtOnce) {
        HANDLE threads[kMostAtOnce];
        int started = 0;
        for (int i = first; i < count && i < first + kMostAtOnce; ++i) {
            links[i].saved = false;
            HANDLE thread = CreateThread(NULL, 0, WriteLinkFile, &links[i], 0, NULL);
            if (thread)
                threads[started++] = thread;
            else
                WriteLinkFile(&links[i]);
        }
        if (started > 0)
            WaitForMultipleObjects(started, threads, TRUE, INFINITE);
        for (int i = 0; i < started; ++i)
            CloseHandle(threads[i]);
    }
}

void CInstallOptions::WriteRecordedLinks(LinkFile *files, int count)
{
    WriteLinkFiles(files, count);
    // Recorded in the given order, whichever was written first.
    for (int i = 0; i < count; ++i) {
        if (files[i].saved)
            m_record.AddLink(files[i].path);
    }
}

bool CInstallOptions::CreateShortcuts()
{
    WCHAR path[MAX_PATH];
    // The 3.0 shortcuts go whatever was installed before: an upgrade must not keep them. The
    // quick-launch folder is the account's own: without the account's own parts (the machine's
    // account, a deployment) each user's logon takes care of it.
    HANDLE ownAccount = m_bUserParts ? OwnAccountToken() : NULL;
    struct OldLink {
        const WCHAR *folder;
        bool accountsOwn;
    } oldLinks[] = {{m_strCommonDesktop, false}, {m_strCommonStartMenu, false}, {m_strQuickLaunch, true}};
    for (const OldLink &old : oldLinks) {
        // A folder the shell does not name is none: "\\Velmarin 3.0.lnk" would be on the current drive.
        if (!old.folder[0] || (old.accountsOwn && !m_bUserParts))
            continue;
        CThreadToken rights(old.accountsOwn ? ownAccount : NULL);
        if ((!old.accountsOwn || rights.Acting()) && Format(path, L"%s\\%s", old.folder, kOldBrowserLinkName))
            DeleteFileW(path);
    }
    MakeRecordedFolder(m_strProgramGroup);

    WCHAR browser[MAX_PATH], uninstaller[MAX_PATH];
    Format(browser, L"%s\\Velmarin.exe", m_strInstallDir);
    Format(uninstaller, L"%s\\UnInst.exe", m_strInstallDir);
    struct Link {
        const WCHAR *folder;
        const WCHAR *name;
        const WCHAR *target;
        const WCHAR *arguments;
        BOOL wanted;
        bool accountsOwn;
    } links[] = {
        {m_strProgramGroup, kBrowserLinkName, browser, NULL, TRUE, false},
        {m_strProgramGroup, L"卸载岚舟 3.lnk", uninstaller, NULL, TRUE, false},
        {m_strProgramGroup, L"进程管理器.lnk", browser, L"/tp:4", TRUE, false},
        {m_strCommonDesktop, kBrowserLinkName, browser, NULL, m_bDesktopShortcut, false},
        {m_strQuickLaunch, kBrowserLinkName, browser, NULL, m_bQuickLaunch && m_bUserParts, true},
        {m_strCommonStartMenu, kBrowserLinkName, browser, NULL, TRUE, false},
    };
    LinkFile files[ARRAYSIZE(links)];
    int count = 0, quickLaunch = -1;
    for (const Link &link : links) {
        // A missing desktop or quick-launch folder is not created: that link is simply left out.
        if (link.wanted && PathIsDirectoryW(link.folder) && Format(files[count].path, L"%s\\%s", link.folder, link.name)) {
            files[count].target = link.target;
            files[count].arguments = link.arguments;
            files[count].url = NULL;
            files[count].accountsOwn = link.accountsOwn;
            files[count].accountToken = ownAccount;
            if (link.folder == m_strQuickLaunch)
                quickLaunch = count;
            ++count;
        }
    }
    WriteRecordedLinks(files, count);
    return quickLaunch >= 0 && files[quickLaunch].saved;
}

int LinkBarFiles(const WCHAR *favorites, LinkFile *files, WCHAR (*urls)[MAX_PATH])
{
    static const struct {
        const WCHAR *file;
        const WCHAR *path;
    } shortcuts[kLinkBarFiles] = {
        {L"新手上路.url", L"/vm3/beginner/"},
        {L"新特性.url", L"/vm3/feature/"},
        {L"如何使用收藏栏.url", L"/vm3/beginner/favoritebar.htm"},
    };
    int count = 0;
    for (int i = 0; favorites && favorites[0] && i < kLinkBarFiles; ++i) {
        if (Format(files[count].path, L"%s\\LinkBar\\%s", favorites, shortcuts[i].file) &&
            Format(urls[count], L"http://%s%s", kProductWebHost, shortcuts[i].path)) {
            files[count].url = urls[count];
            files[count].target = files[count].arguments = NULL;
            files[count].accountsOwn = false;
            files[count].accountToken = NULL;
            files[count].saved = false;
            ++count;
        }
    }
    return count;
}

void CInstallOptions::CreateLinkBarShortcuts()
{
    WCHAR folder[MAX_PATH];
    // An account the shell names no favourites folder for has no links bar: "\\LinkBar" would be
    // made at the current drive's root, and the record would name what its uninstaller refuses.
    if (!m_strFavorites[0]) {
        LogStep(L"找不到本帐户的收藏夹：不创建收藏栏链接");
        return;
    }
    // The favourites are the account's own.
    HANDLE ownAccount = OwnAccountToken();
    if (!Format(folder, L"%s\\LinkBar", m_strFavorites))
        return;
    {
        CThreadToken rights(ownAccount);
        if (rights.Acting())
            MakeRecordedFolder(folder);
    }
    LinkFile files[kLinkBarFiles];
    WCHAR urls[kLinkBarFiles][MAX_PATH];
    int count = LinkBarFiles(m_strFavorites, files, urls);
    for (int i = 0; i < count; ++i) {
        files[i].accountsOwn = true;
        files[i].accountToken = ownAccount;
    }
    WriteRecordedLinks(files, count);
}
