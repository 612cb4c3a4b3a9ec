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
