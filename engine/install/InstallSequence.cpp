#include "app/InstallOptions.h"
#include "app/SetupMessages.h"
#include "base/Format.h"
#include "base/SafePaths.h"
#include "base/SetupLog.h"
#include "app/Outcomes.h"
#include "base/FileSystem.h"
#include "engine/folder/InstallFolder.h"
#include "engine/update/FileOperations.h"
#include "engine/update/FileUpdate.h"
#include "engine/payload/Payload.h"
#include "engine/payload/PayloadManifest.h"
#include "engine/process/Process.h"
#include "engine/Product.h"
#include "engine/process/RunningBrowser.h"
#include "engine/shortcuts/Shortcuts.h"
#include <shlobj.h>
#include <shlwapi.h>

static const WCHAR kErrorCaption[] = L"错误";
static const WCHAR kNoticeCaption[] = L"提示";
// How long a second copy of the setup waits for another one's update of the same folder.
static const DWORD kUpdateWaitMilliseconds = 60000;
static const WCHAR kCopyFailed[] =
    L"无法将岚舟浏览器的程序文件复制到安装目录，安装未能完成。\r\n"
    L"请关闭正在使用这些文件的程序，然后重新运行安装程序。";
static const WCHAR kNoTempFolder[] =
    L"无法在 %s 中创建安装所需的临时文件夹，安装未能完成。\r\n"
    L"请检查该文件夹所在磁盘的空间和该文件夹的权限，然后重新运行安装程序。";
static const WCHAR kPayloadBroken[] =
    L"无法解压岚舟浏览器的安装文件，安装未能完成。\r\n"
    L"安装程序可能已损坏，请重新下载安装程序后再安装。";
static const WCHAR kTempDriveFull[] =
    L"临时文件夹所在的磁盘（%s）空间不足，无法解压岚舟浏览器的安装文件，安装未能完成。\r\n"
    L"请在该磁盘上腾出至少 %I64u MB 空间，然后重新运行安装程序。";
static const WCHAR kInstallDriveFull[] =
    L"安装目录所在的磁盘（%s）空间不足，安装未能完成，原有的文件未作改动。\r\n"
    L"请在该磁盘上腾出至少 %I64u MB 空间，或选择其它安装目录，然后重新运行安装程序。";
static const WCHAR kAnotherSetupRunning[] =
    L"另一个安装程序正在安装岚舟浏览器，本次安装未能完成。\r\n"
    L"请等它完成后再运行安装程序。";
static const WCHAR kNoUpdateJournal[] =
    L"无法在安装目录中写入安装记录文件“VelmarinSetup.journal”，安装未能完成。\r\n"
    L"请删除安装目录中的这个文件，或选择其它目录后再安装。";
static const WCHAR kUnreadableJournal[] =
    L"上次未完成的安装留下的记录无法读取，已将其清除。\r\n"
    L"安装程序将重新安装全部程序文件。";
static const WCHAR kFolderOthersCanChange[] =
    L"其他用户可以更改安装目录（%s）或它上层的文件夹，为了安全，安装未能完成，原有的文件未作改动。\r\n"
    L"请将岚舟浏览器安装到其它目录。";
static const WCHAR kNetworkFolder[] = L"不能安装到网络上的文件夹，请选择本机磁盘上的安装路径";
static const WCHAR kUnplaceableFolder[] = L"无法将文件放入安装目录，请选择其它目录后再安装。";
static const WCHAR kCopyFailedKeptOld[] =
    L"无法将岚舟浏览器的程序文件复制到安装目录，安装未能完成，原有的浏览器已保留。\r\n"
    L"请关闭正在使用这些文件的程序，然后重新运行安装程序。";

static DWORD WINAPI BroadcastThread(LPVOID)
{
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, 0, SMTO_ABORTIFHUNG, 5000, NULL);
    return 0;
}

static void BroadcastSettingChange()
{
    HANDLE thread = CreateThread(NULL, 0, BroadcastThread, NULL, 0, NULL);
    if (thread)
        CloseHandle(thread);
}

void CInstallOptions::PostProgress(int percentage)
{
    PostSetupMessage(m_hProgressWnd, WM_SETUP_PROGRESS, (WPARAM)percentage);
}

void CInstallOptions::RequestClose()
{
    InterlockedExchange(&m_nCloseRequested, 1);
}

bool CInstallOptions::CloseRequested()
{
    return InterlockedCompareExchange(&m_nCloseRequested, 0, 0) != 0;
}

void CInstallOptions::PostFinished()
{
    PostSetupMessage(m_hProgressWnd, WM_SETUP_END, 0);
}

namespace {
// The progress while the files come in: 50 once the programs are in, 60 after the plugins, 70
// after the skin.
struct CopyProgress {
    CInstallOptions *options;
    int marks[3];
    int reached;
};
}

static void OnFilesCopied(void *context, int copied)
{
    CopyProgress *progress = (CopyProgress *)context;
    while (progress->reached < 3 && copied >= progress->marks[progress->reached])
        progress->options->PostProgress(50 + 10 * progress->reached++);
}

namespace {
// Copies from an extraction folder that others could have changed since its check: every file
// is checked again, through the handle its copy reads, against what the manifest names.
class CCheckedCopies : public CFileOperations {
public:
    // `extra`, when it names a file, is one the setup put beside the manifest's files itself.
    CCheckedCopies(const WCHAR *source, const CPayloadManifest &manifest, const ManifestFile &extra)
        : m_source(source), m_manifest(manifest), m_extra(extra), m_next(0), m_bDiffered(false)
    {
    }
    bool CopyTo(const WCHAR *from, const WCHAR *to, bool mustBeNew) override
    {
        const ManifestFile *expected = Find(from);
        CheckedCopyResult result =
            expected ? CopyFileChecked(from, to, mustBeNew, expected->size, expected->sha256) : kCheckedCopyDiffers;
        if (result == kCheckedCopyDiffers) {
            m_bDiffered = true;
            LogStep(L"安装文件与清单不符：%s", from);
            SetLastError(ERROR_FILE_CORRUPT);
        }
        return result == kCheckedCopyDone;
    }
    // Nothing unchecked is moved in: every file is copied through its check.
    bool MoveIn(const WCHAR *, const WCHAR *, bool) override
    {
        SetLastError(ERROR_NOT_SAME_DEVICE);
        return false;
    }
    // A file was not what the manifest names, or the manifest does not name it.
    bool Differed() const { return m_bDiffered; }

private:
    const ManifestFile *Find(const WCHAR *from)
    {
        size_t length = wcslen(m_source);
        if (_wcsnicmp(from, m_source, length) != 0 || from[length] != L'\\')
            return NULL;
        if (m_extra.relative[0] && lstrcmpiW(m_extra.relative, from + length) == 0)
            return &m_extra;
        // The update copies mostly in the manifest's order: each search starts after the last find.
        int count = m_manifest.FileCount();
        for (int looked = 0; looked < count; ++looked, m_next = (m_next + 1) % count) {
            if (lstrcmpiW(m_manifest.File(m_next).relative, from + length) == 0)
                return &m_manifest.File(m_next);
        }
        return NULL;
    }
    const WCHAR *m_source;
    const CPayloadManifest &m_manifest;
    const ManifestFile &m_extra;
    int m_next;
    bool m_bDiffered;
};
}

// The file set, planned in the order the progress reports it, then copied in and swapped in as
// one. Nothing of an existing installation changes unless every file is ready.
bool CInstallOptions::CopyBrowserFiles(CFileUpdate &update)
{
    CopyProgress progress = {this, {0, 0, 0}, 0};
    const WCHAR *programs[] = {L"\\Velmarin.exe", L"\\WebApp.exe", L"\\UnInst.exe"};
    bool staged = true;
    for (const WCHAR *program : programs)
        staged = staged && update.Stage(program);
    // The setup's own program for each user's logon, where it was put beside them.
    WCHAR path[MAX_PATH];
    if (staged && Format(path, L"%s%s", m_strExtractDir, kUserPartsProgram) && PathFileExistsW(path))
        staged = update.Stage(kUserPartsProgram);

    const WCHAR *guardHub[] = {kLongestInstalledFile, L"\\Extensions\\GuardHub\\urlproc.dll"};
    for (const WCHAR *file : guardHub) {
        if (staged && Format(path, L"%s%s", m_strExtractDir, file) && PathFileExistsW(path))
            staged = update.Stage(file);
    }

    progress.marks[0] = update.StagedCount();
    const WCHAR *plugins[] = {L"PlgKit", L"PlgStrip", L"PlgBlock", L"PlgTabs", L"PlgRelay"};
    for (const WCHAR *name : plugins)
        staged = staged && StageExtension(update, name);

    progress.marks[1] = update.StagedCount();
    staged = staged && update.StageTree(L"\\Skin\\Frost_Glass");

    progress.marks[2] = update.StagedCount();
    staged = staged && StageExtension(update, L"PlgHint") && StageExtension(update, L"PlgFetch");

    if (!staged) {
        // What went wrong, not what putting the folder back last met.
        DWORD error = GetLastError();
        update.Abandon();
        SetLastError(error);
        return false;
    }
    return update.Commit(OnFilesCopied, &progress);
}

// "\Extensions\<name>\<name>.dll", where the payload has it.
bool CInstallOptions::StageExtension(CFileUpdate &update, const WCHAR *name)
{
    WCHAR relative[MAX_PATH], path[MAX_PATH];
    if (!Format(relative, L"\\Extensions\\%s\\%s.dll", name, name) || !Format(path, L"%s%s", m_strExtractDir, relative))
        return false;
    return !PathFileExistsW(path) || update.Stage(relative);
}

// The payload unpacked completely: every file the build packed is there as it was packed. The
// worker checked right after the extraction, while the user read the first page; where it did
// not (no extraction this run), it checks now.
bool CInstallOptions::PayloadIsComplete() const
{
    if (m_nPayloadCheck != kPayloadNotChecked)
        return m_nPayloadCheck == kPayloadMatches;
    return ExtractionMatchesManifest(m_strExtractDir, CPayloadManifest::Instance());
}

// Names the drive of `folder` and the megabytes it lacks (rounded up) in `pattern`.
void CInstallOptions::StopForFullDrive(const WCHAR *pattern, const WCHAR *folder, ULONGLONG shortfall)
{
    WCHAR drive[MAX_PATH], message[512];
    if (!GetVolumePathNameW(folder, drive, MAX_PATH))
        Copy(drive, folder);
    Format(message, pattern, drive, (shortfall + (1 << 20) - 1) >> 20);
    StopInstall(message, kOutcomeDiskFull);
}

// "Velmarin.exe.bak", the backup of the browser that older setups made beside it and removed a
// moment later: one an interrupted run left goes, through a handle that cannot have followed a
// link, so that nothing outside the install folder goes with it. Nothing records it.
void CInstallOptions::RemoveLeftoverBackup()
{
    CHeldPath backup;
    if (backup.Open(m_strInstallDir, L"\\Velmarin.exe.bak", DELETE | FILE_WRITE_ATTRIBUTES) && !backup.IsFolder()) {
        if (backup.Delete())
            LogStep(L"已删除上次安装留下的 Velmarin.exe.bak");
        else
            LogFailure(GetLastError(), L"无法删除上次安装留下的 Velmarin.exe.bak");
    }
}

void CInstallOptions::StopInstall(const WCHAR *message, int outcome)
{
    m_nOutcome = outcome;
    LogStep(L"安装停止：%s", DescribeOutcome(outcome));
    // An install folder this run made goes again while it is empty.
    if (m_bMadeInstallDir)
        RemoveMadeFolder(m_strInstallDir);
    if (message)
        ShowMessage(NULL, message, kErrorCaption, MB_OK | MB_ICONERROR);
    ForgetOwnAccountToken();
    PostFinished();
    ScheduleTempCleanup();
}

void CInstallOptions::RunInstall(HWND progressWindow)
{
    m_hProgressWnd = progressWindow;

    // As the machine's account (a deployment tool's run) there is nobody whose parts these would be.
    if (m_bUserParts && RunsAsMachineAccount())
        m_bUserParts = false;
    if (!m_bUserParts)
        LogStep(L"不在本帐户中创建收藏栏链接、快速启动栏和浏览器设置：每个用户在下次登录时得到自己的");

    // The folder as Windows names it: what is recorded and registered is the real place, which
    // the uninstaller finds again however the folder was typed. One on a network drive, or one
    // whose place cannot be told, is no place for the elevated setup.
    WCHAR final[MAX_PATH];
    if (FolderOnNetwork(m_strInstallDir)) {
        LogStep(L"安装目录 %s 位于网络上", m_strInstallDir);
        ShowMessage(NULL, kNetworkFolder, kErrorCaption, MB_OK);
        StopInstall(NULL, kOutcomeFolderRefused);
        return;
    }
    WCHAR refused[512];
    Format(refused, kFolderOthersCanChange, m_strInstallDir);
    if (WayToFolderOthersCouldChange(m_strInstallDir)) {
        LogStep(L"其他用户可以更改通往安装目录 %s 的文件夹或链接", m_strInstallDir);
        StopInstall(refused, kOutcomeFolderRefused);
        return;
    }
    if (!FinalFolderPath(m_strInstallDir, final)) {
        LogFailure(GetLastError(), L"无法确定安装目录 %s 的实际位置", m_strInstallDir);
        ShowMessage(NULL, kUnplaceableFolder, kErrorCaption, MB_OK);
        StopInstall(NULL, kOutcomeFolderRefused);
        return;
    }
    if (lstrcmpW(final, m_strInstallDir) != 0) {
        LogStep(L"安装目录 %s 即 %s", m_strInstallDir, final);
        Copy(m_strInstallDir, final);
    }
    LogStep(L"安装目录：%s", m_strInstallDir);
    // Settings kept beside the browser are those of the folder chosen, not of the one found first.
    if (!DataInProfile() &&
        !(Copy(m_strDataDir, m_strInstallDir) && Format(m_strIniPath, L"%s\\Velmarin.ini", m_strDataDir)))
        m_strIniPath[0] = 0;
    // Nobody but administrators may change the folder the elevated setup, its uninstaller and
    // the next update act in: decided here again, whatever a page decided before, from the
    // folder this run installs into; made or protected before the first file.
    Format(refused, kFolderOthersCanChange, m_strInstallDir);
    bool made = false, protectedNow = false;
    switch (PrepareInstallFolder(m_strInstallDir, made, protectedNow)) {
    case kFolderReady:
        break;
    case kFolderOthersCouldChange:
        LogStep(L"其他用户可以更改安装目录或它上层的文件夹");
        StopInstall(refused, kOutcomeFolderRefused);
        return;
    case kFolderOnNetwork:
        LogStep(L"安装目录位于网络上");
        ShowMessage(NULL, kNetworkFolder, kErrorCaption, MB_OK);
        StopInstall(NULL, kOutcomeFolderRefused);
        return;
    case kFolderNotMade:
        LogFailure(GetLastError(), L"无法创建安装目录");
        ShowMessage(NULL, kUnplaceableFolder, kErrorCaption, MB_OK);
        StopInstall(NULL, kOutcomeFolderRefused);
        return;
    }
    if (made) {
        m_bMadeInstallDir = true;
        LogStep(L"已创建安装目录，仅管理员可以更改");
    }
    // Others could write into the folder until now: an earlier record there may be theirs. It
    // goes at once: one somebody holds open could otherwise outlive the protection, unreplaced,
    // and be trusted by the uninstaller and the next update.
    m_bEarlierRecordUntrusted = protectedNow;
    if (protectedNow)
        LogStep(L"已保护安装目录及其中的全部内容：仅管理员可以更改");
    if (protectedNow && !CInstallRecord::Discard(m_strInstallDir)) {
        LogFailure(GetLastError(), L"原有的安装记录被其他程序打开");
        StopInstall(refused, kOutcomeFolderRefused);
        return;
    }
    if (!IsFolderWritable(m_strInstallDir)) {
        LogFailure(GetLastError(), L"安装目录无法写入");
        ShowMessage(NULL, kUnplaceableFolder, kErrorCaption, MB_OK);
        StopInstall(NULL, kOutcomeFolderRefused);
        return;
    }
    if (!m_strTempRoot[0]) {
        // The setup unpacks only in the Windows folder's Temp: that is the folder to look at,
        // not the user's own temporary folder.
        WCHAR windows[MAX_PATH], folder[MAX_PATH], message[600];
        UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
        if (length == 0 || length >= MAX_PATH || !Format(folder, L"%s\\Temp", windows))
            Copy(folder, L"%windir%\\Temp");
        Format(message, kNoTempFolder, folder);
        StopInstall(message, kOutcomeCopyFailed);
        return;
    }
    if (m_ullTempShortfall > 0) {
        StopForFullDrive(kTempDriveFull, m_strTempRoot, m_ullTempShortfall);
        return;
    }
    if (!PayloadIsComplete()) {
        StopInstall(kPayloadBroken, kOutcomePayloadDamaged);
        return;
    }
    LogStep(L"安装文件已解压到 %s，与清单一致", m_strExtractDir);

    WCHAR browserPath[MAX_PATH];
    Format(browserPath, L"%s\\Velmarin.exe", m_strInstallDir);
    PostProgress(10);
    WriteIniValue(kIniSection, kIniKey, L"0", true);

    PostProgress(20);
    // The browser is ended first: what a stopped earlier run left cannot be put right while
    // it runs from the folder.
    if (PathFileExistsW(browserPath) && IsFileInUse(browserPath) && ResolveRunningBrowser(browserPath) == kBrowserCancelled) {
        RemoveLeftoverBackup();
        StopInstall(NULL, kOutcomeBrowserRunning);
        return;
    }
    PostProgress(30);
    RemoveLeftoverBackup();
    if (CloseRequested()) {
        StopInstall(NULL, kOutcomeCancelled);
        return;
    }

    ManifestFile userParts = {};
    if (!PlaceUserPartsProgram(userParts)) {
        LogFailure(GetLastError(), L"无法准备每个用户登录时运行的程序");
        userParts.relative[0] = 0;
    }

    // From here until the update is resolved the folder is this setup's alone; what a stopped
    // earlier run left is resolved first, towards a complete installation.
    CCheckedCopies checkedCopies(m_strExtractDir, CPayloadManifest::Instance(), userParts);
    CFileUpdate update(m_strExtractDir, m_strInstallDir, m_bExtractionProtected ? NULL : &checkedCopies);
    // Files that only administrators could change since their check are moved, not copied.
    if (m_bExtractionProtected)
        update.MoveFromSource();
    // A journal others could write until the folder was protected names what they chose.
    if (m_bEarlierRecordUntrusted)
        update.DistrustEarlierJournal();
    switch (update.Open(kUpdateWaitMilliseconds)) {
    case kUpdateReady:
        break;
    case kUpdateBusy:
        StopInstall(kAnotherSetupRunning, kOutcomeAnotherSetup);
        return;
    case kUpdateNotResolved:
        StopInstall(kCopyFailedKeptOld, kOutcomeCopyFailed);
        return;
    case kUpdateNoJournal:
        LogFailure(GetLastError(), L"无法写入更新记录");
        StopInstall(kNoUpdateJournal, kOutcomeCopyFailed);
        return;
    }
    if (update.JournalWasUnreadable())
        ShowMessage(NULL, kUnreadableJournal, kNoticeCaption, MB_OK | MB_ICONWARNING);
    bool hadBrowser = PathFileExistsW(browserPath) != FALSE;

    // Until the update is committed, the new files take room beside the installed ones.
    const CPayloadManifest &manifest = CPayloadManifest::Instance();
    if (ULONGLONG shortfall = DriveShortfall(m_strInstallDir, manifest.TotalSize(), manifest.FileCount())) {
        update.Abandon();
        StopForFullDrive(kInstallDriveFull, m_strInstallDir, shortfall);
        return;
    }
    PostProgress(40);
    bool copied = CopyBrowserFiles(update);
    // Nothing of a file changed since its check stays in the install folder: the update went back.
    if (!copied && checkedCopies.Differed()) {
        StopInstall(kPayloadBroken, kOutcomePayloadDamaged);
        return;
    }
    if (!copied) {
        LogFailure(GetLastError(), L"复制程序文件失败，已恢复原有的文件");
        StopInstall(hadBrowser ? kCopyFailedKeptOld : kCopyFailed, kOutcomeCopyFailed);
        return;
    }
    if (update.MovedCount() > 0)
        LogStep(L"已复制 %d 个程序文件，其中 %d 个从解压目录移入", update.StagedCount(), update.MovedCount());
    else
        LogStep(L"已复制 %d 个程序文件", update.StagedCount());
    RecordCopiedFiles(update);
    // The page was closed meanwhile: the update is complete, the setup ends.
    if (CloseRequested()) {
        SaveInstallRecord();
        StopInstall(NULL, kOutcomeCancelled);
        return;
    }

    PostProgress(80);
    WriteIniValue(L"addunstall", kIniKey, NULL, false);

    PostProgress(90);
    if (m_bUserParts)
        CreateLinkBarShortcuts();

    PostProgress(100);
    RegisterWithSystem();
    LogStep(L"已在系统中注册");
    bool quickLaunch = CreateShortcuts();
    // The person at hand has his parts now: his next logon need not make them again.
    if (m_bUserParts)
        MarkUserPartsDone();
    ForgetOwnAccountToken();
    LogStep(L"已创建快捷方式（桌面：%s，快速启动栏：%s）", m_bDesktopShortcut ? L"是" : L"否", quickLaunch ? L"是" : L"否");
    bool recordSaved = SaveInstallRecord();
    if (recordSaved)
        LogStep(L"已写入安装记录");
    RunBrowserSetup();
    if (m_bDefaultBrowser) {
        RunBrowserSetDefault();
        LogStep(L"已设为默认浏览器");
    }
    if (m_bQuickLaunch && m_bUserParts && m_nOsVersion == kOsWindows7)
        RunBrowserTaskbar();
    // The shell hears once, at the end, of the new client and class and of what the browser's
    // runs changed (its default-browser run among them): its refresh, the whole association
    // table read again, no longer competes with those runs.
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, NULL, NULL);
    BroadcastSettingChange();
    ScheduleTempCleanup();
    // An installation its record does not name is one the uninstaller cannot remove whole: a
    // deployment tool must not count it as done.
    m_nOutcome = !recordSaved ? kOutcomeRecordKept : FilesScheduledAtRestart() ? kOutcomeRestartNeeded : kOutcomeDone;
    if (!recordSaved && FilesScheduledAtRestart())
        LogStep(L"部分文件将在重新启动计算机后替换");
    LogStep(L"安装完成");
}
