// The setup's command line at work: the choices it gives the pages, and the silent run.
#pragma once
#include "app/Arguments.h"

class CInstallOptions;

// The command line's choices over the pages' defaults: the install folder, after the custom
// page's checks, and the three boxes. False, with the options unchanged, for a folder the
// custom page would refuse; `refusal` then holds its message.
bool ApplyArguments(const Arguments &arguments, CInstallOptions &options, WCHAR (&refusal)[256]);

// Installs with nobody at the screen, as the quick installation does, to the end: no page, no
// message, the browser not started. Returns the exit code (a RunOutcome).
int RunSilentInstall(const Arguments &arguments);

// The message box of "/?".
void ShowCommandLineHelp();

// The single-instance lock of a silent run. Any user can make an object of the wizard's mutex
// name first; the lock of silent runs lies where only administrators can make objects.
struct SilentRunLock {
    HANDLE space;  // the private namespace whose boundary requires Administrators
    HANDLE mutex;  // the silent runs' mutex in it, held
    HANDLE named;  // the wizard's mutex (g_strSetupTitle), as callers watch for it
};
// False when another setup runs: a silent one, or one whose mutex an administrator made.
bool TakeSilentRunLock(SilentRunLock &lock);
void ReleaseSilentRunLock(SilentRunLock &lock);
