#include "app/InstallOptions.h"
#include "engine/process/CommandLines.h"
#include "engine/process/Process.h"

// The browser's own steps at the end of an installation, each a run of the installed browser
// that the setup waits for.
bool CInstallOptions::RunBrowser(const WCHAR *arguments)
{
    WCHAR commandLine[kCommandLineChars];
    if (!FormBrowserCommandLine(commandLine, kCommandLineChars, m_strInstallDir, arguments))
        return false;
    // Elevated, the browser keeps its temporary files in the protected root, which goes at the
    // end (or at the restart), not in a folder the user's environment names.
    if (!m_hBrowserRuns)
        m_hBrowserRuns = CreateJobObjectW(NULL, NULL);
    HANDLE process = StartCommandLineWithTemporaryFolder(commandLine, SW_HIDE, m_strTempRoot, m_hBrowserRuns);
    if (!process)
        return false;
    // A run outside the job (none could be made, or it could not join: Windows 7 nests no jobs,
    // and this process may be in one) is not known to end.
    BOOL joined = FALSE;
    if (!m_hBrowserRuns || !IsProcessInJob(process, m_hBrowserRuns, &joined) || !joined)
        m_bTempRootLeftForRestart = true;
    bool ended = WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

void CInstallOptions::RunBrowserSetup()
{
    RunBrowser(L"/tp:3 /v:1 /tb:0");
}

void CInstallOptions::RunBrowserSetDefault()
{
    RunBrowser(L"/tp:2 /v:1");
}

void CInstallOptions::RunBrowserTaskbar()
{
    RunBrowser(L"/tp:11 /v:1");
}
