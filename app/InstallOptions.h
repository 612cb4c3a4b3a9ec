// The one record the whole setup shares: operating-system code, installation state, the window
// that receives progress, every folder the engine needs and the user's three choices. The pages
// write the choices on the user-interface thread before they ask for the progress page; the
// engine's operations, members of this record, read them on the worker thread afterwards.
#pragma once
#include "engine/record/InstallRecord.h"
#include <windows.h>

// Operating-system codes: 1 to 9 for the systems the setup knows, kOsUnknown for any other.
enum {
    kOsWindows2000 = 1,
    kOsWindowsXP = 2,
    kOsWindowsXPSP1 = 3,
    kOsWindowsXPSP2 = 4,
    kOsWindowsXPSP3 = 5,
    kOsWindowsServer2003 = 6,
    kOsWindowsVista = 7,
    kOsWindowsVistaSP1 = 8,
    kOsWindows7 = 9,
    kOsUnknown = -1000,
};

// Classifies a version as GetVersionExW reports it.
int ClassifyOsVersion(DWORD platformId, DWORD major, DWORD minor, const WCHAR *servicePack);

// The running system's code, asked once per process.
int GetOsVersionCode();

// The running system's own version as RtlGetVersion reports it, asked once per process. Windows 8
// and later tell a program without a compatibility manifest 6.2, whatever they are.
DWORD GetRealWindowsVersion();  // MAKEWORD(minor, major)

// Whether the browser's capabilities (Default Programs, Default apps) are registered: on Vista
// and 7, and on Windows 8 and later, whose code is kOsUnknown but which list a browser only by
// its capabilities.
bool RegistersCapabilities(int osCode, DWORD realVersion);

class CFileUpdate;
struct LinkFile;
struct ManifestFile;

class CInstallOptions {
public:
    static CInstallOptions &Instance();

    CInstallOptions();
    virtual ~CInstallOptions();

    // Fills the folder members and the installation state (start-up, before any page exists).
    void DetectFolders();
    // True when the installed browser's ini says it is the default browser already.
    bool ReadDefaultBrowserSetting() const;

    // Payload and launch
    BOOL ExtractPayload();
    void LaunchBrowser(bool run);
    void ScheduleTempCleanup();

    // Install sequence
    void RunInstall(HWND progressWindow);
    void PostProgress(int percentage);
    void PostFinished();
    void RunBrowserSetup();
    void RunBrowserSetDefault();
    void RunBrowserTaskbar();
    // The copy phase: program files, extensions and skin from the extraction folder, replacing
    // the installed set as one through `update` (open). False, with the installed files as they
    // were, on any failure.
    bool CopyBrowserFiles(CFileUpdate &update);
    // The progress page was closed: the installation ends at the next point where the folder
    // is whole (before the copy, or once the update is complete). Any thread.
    void RequestClose();
    bool CloseRequested();
    bool PayloadIsComplete() const;

    // System registration: RegisterWithSystem writes the groups the system supports.
    void RegisterWithSystem();
    void RegisterCapabilities();
    void WriteUninstallEntry();
    void WriteAppPath();

    // Shortcuts; whether the quick-launch link was written.
    bool CreateShortcuts();

    // The record of what this installation wrote, for the uninstaller.
    RecordPlaces Places() const;
    void RecordCopiedFiles(const CFileUpdate &update);
    // Writes the record into the install folder, with what earlier installations recorded.
    bool SaveInstallRecord();

    int m_nOsVersion;
    DWORD m_dwRealVersion;  // GetRealWindowsVersion()
    int m_nState;
    HWND m_hProgressWnd;
    WCHAR m_strTempRoot[MAX_PATH];
    WCHAR m_strExtractDir[MAX_PATH];
    // The extraction folder is the protected one in the Windows folder's Temp: only administrators
    // could change its files after their check. Otherwise every file is checked again as it is
    // copied.
    bool m_bExtractionProtected;
    WCHAR m_strInstallDir[MAX_PATH];
    WCHAR m_strDataDir[MAX_PATH];
    WCHAR m_strProgramGroup[MAX_PATH];
    WCHAR m_strCommonStartMenu[MAX_PATH];
    WCHAR m_strCommonDesktop[MAX_PATH];
    WCHAR m_strQuickLaunch[MAX_PATH];
    WCHAR m_strFavorites[MAX_PATH];
    WCHAR m_strIniPath[MAX_PATH];
    BOOL m_bDefaultBrowser;
    BOOL m_bDesktopShortcut;
    BOOL m_bQuickLaunch;
    // Whether the installation writes the running account's own parts (the links bar, the
    // quick-launch link, the ini edits in its profile): not as the machine's account, nor where
    // /UserParts=0 says so. Each user gets his at his next logon (Active Setup) either way.
    bool m_bUserParts;
    // The install folder did not exist before this setup made it.
    bool m_bMadeInstallDir;
    // The installation protected a folder others could write into: the record found there is
    // not merged, a fresh one replaces it.
    bool m_bEarlierRecordUntrusted;
    CInstallRecord m_record;
    // The temporary root and the extraction folder, held open from their creation until the
    // clean-up so that nobody can swap them for folders of their own.
    HANDLE m_hTempRootLock;
    HANDLE m_hExtractLock;
    // The browser's runs and whatever they start, which are told the temporary root for their
    // temporary files: while any of them may live, the root's name is not given up, and the root
    // is left for the restart. Null before the first run.
    HANDLE m_hBrowserRuns;
    bool m_bTempRootLeftForRestart;
    // This account's own rights, without the Administrators group's, for what the setup writes
    // into the account's profile (CreateOwnAccountToken); made at the first need, once a run
    // (`m_bOwnAccountTried`: null after that means none could be made).
    HANDLE m_hOwnAccount;
    bool m_bOwnAccountTried;
    volatile LONG m_nCloseRequested;
    // What the check of the extraction against the payload manifest found, on the worker.
    enum { kPayloadNotChecked, kPayloadMatches, kPayloadDiffers };
    int m_nPayloadCheck;
    // Bytes the temporary folder's drive lacked for the extraction; 0 when it had room.
    ULONGLONG m_ullTempShortfall;
    // How the installation ended (a RunOutcome), set by RunInstall.
    int m_nOutcome;

private:
    // Runs the payload program into the extraction folder and checks what it unpacks.
    BOOL RunPayload(const WCHAR *payload);
    bool RunBrowser(const WCHAR *arguments);
    bool StageExtension(CFileUpdate &update, const WCHAR *name);
    // Ends a stopped installation: an empty install folder it made, the message if any, the end
    // message, the temporary folder; `outcome` (a RunOutcome) is what a silent run exits with.
    void StopInstall(const WCHAR *message, int outcome);
    void StopForFullDrive(const WCHAR *pattern, const WCHAR *folder, ULONGLONG shortfall);
    // Removes the browser's backup an interrupted older setup left in the install folder.
    void RemoveLeftoverBackup();
    // The program each user's logon runs, written into the extraction folder beside the
    // browser's files, and its registration with its version and the installation's choice; the
    // installing person marked as served, where he got his parts now.
    bool PlaceUserPartsProgram(ManifestFile &placed);
    void RegisterUserParts();
    void MarkUserPartsDone();
    void CreateLinkBarShortcuts();
    HANDLE OwnAccountToken();
    void ForgetOwnAccountToken();
    // Whether the browser's data folder, and its ini, lie in the account's profile (from Vista on),
    // not in the install folder.
    bool DataInProfile() const;
    // Changes a value of the browser's ini (removes it when `value` is null; `onlyIfOne`: only
    // when it is 1), with the account's own rights where the ini lies in its profile.
    void WriteIniValue(const WCHAR *section, const WCHAR *key, const WCHAR *value, bool onlyIfOne);
    // Registry writes that the record keeps, with any key they make.
    void WriteRecordedString(HKEY root, const WCHAR *key, const WCHAR *name, const WCHAR *value);
    void WriteRecordedDword(HKEY root, const WCHAR *key, const WCHAR *name, DWORD value);
    void RecordMissingKeys(HKEY root, const WCHAR *key);
    // Makes a folder outside the install folder, recording it when it is new.
    void MakeRecordedFolder(const WCHAR *folder);
    // Writes the link files side by side and records those written, in their given order.
    void WriteRecordedLinks(LinkFile *files, int count);

    CInstallOptions(const CInstallOptions &);
    CInstallOptions &operator=(const CInstallOptions &);
};


