// The command-line options of the setup and the uninstaller, for administrators who deploy the
// browser with nobody at the screen. Options are case-insensitive, in any order, each at most
// once; a word may be put in double quotes, whole or after its "=".
#pragma once
#include <windows.h>

enum ArgumentsOf { kSetupArguments, kUninstallerArguments };

enum { kOptionUnset = -1, kArgumentChars = 1024 };

struct Arguments {
    bool silent;               // /S
    bool help;                 // /?
    int desktopShortcut;       // /DesktopShortcut=0|1       (the setup's)
    int quickLaunchShortcut;   // /QuickLaunchShortcut=0|1
    int defaultBrowser;        // /DefaultBrowser=0|1
    int closeBrowser;          // /CloseBrowser=0|1
    int downgrade;             // /Downgrade=0|1: over a newer installed browser, install (1, the
                               // default) or change nothing (0)
    int userParts;             // /UserParts=0|1: the running account's own parts now (1, the
                               // default) or only at each user's logon (0)
    int removeData;            // /RemoveData=0|1            (the uninstaller's)
    WCHAR folder[kArgumentChars];  // /D=<folder>: the rest of the line, its quotes taken off
    WCHAR log[MAX_PATH];           // /Log=<file>
    bool unknown;              // a word that is none of the program's options
    bool malformed;            // a repeated option, a value other than 0 or 1, an empty or too long text
    WCHAR problem[64];         // the first word that was unknown or malformed
};

// Reads the words that follow the program's name (see SkipProgramName). A 0|1 option that is
// not given stays kOptionUnset.
void ReadArguments(const WCHAR *words, ArgumentsOf program, Arguments &read);

// Whether a run may go on with what was read: nothing malformed, and no unknown word in a
// silent run (an interactive run ignores unknown words, as it always has).
bool ArgumentsAcceptable(const Arguments &read);

// The text after the first word of a command line as GetCommandLineW gives it (the program's
// name, quoted or not), and after the blanks that follow it.
const WCHAR *SkipProgramName(const WCHAR *commandLine);

// The options for another run of the uninstaller, as ReadArguments reads them back:
// " /S /RemoveData=1 "/Log=<file>"" with only what `read` holds. False when it does not fit.
bool FormUninstallerOptions(const Arguments &read, WCHAR *buffer, size_t capacity);
