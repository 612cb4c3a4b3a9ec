#include "app/Arguments.h"
#include "base/Format.h"
#include <wchar.h>

static bool IsBlank(WCHAR c)
{
    return c == L' ' || c == L'\t';
}

static const WCHAR *SkipBlanks(const WCHAR *text)
{
    while (IsBlank(*text))
        ++text;
    return text;
}

const WCHAR *SkipProgramName(const WCHAR *commandLine)
{
    if (!commandLine)
        return L"";
    const WCHAR *at = commandLine;
    // The program's name ends at the closing quote, or at the first blank: no escapes in it.
    if (*at == L'"') {
        for (++at; *at && *at != L'"'; ++at) {
        }
        if (*at)
            ++at;
    }
    while (*at && !IsBlank(*at))
        ++at;
    return SkipBlanks(at);
}

// One word, up to the first blank outside quotes, its quotes taken off. False when it does not
// fit `capacity`; the text then moves past it all the same.
static bool NextWord(const WCHAR *&text, WCHAR *word, size_t capacity)
{
    size_t length = 0;
    bool quoted = false, fits = true;
    for (; *text && (quoted || !IsBlank(*text)); ++text) {
        if (*text == L'"') {
            quoted = !quoted;
        } else if (length + 1 < capacity) {
            word[length++] = *text;
        } else {
            fits = false;
        }
    }
    word[length] = 0;
    text = SkipBlanks(text);
    return fits;
}

static bool StartsWithOption(const WCHAR *word, const WCHAR *option)
{
    size_t length = wcslen(option);
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, word, (int)length, option, (int)length) == CSTR_EQUAL;
}

static bool IsOption(const WCHAR *word, const WCHAR *option)
{
    return lstrlenW(word) == lstrlenW(option) && StartsWithOption(word, option);
}

// "/D=" takes the rest of the line: a folder with spaces needs no quotes. Quotes around the
// folder, or around the whole word, are taken off.
static bool ReadFolder(const WCHAR *rest, WCHAR (&folder)[kArgumentChars])
{
    size_t length = wcslen(rest);
    while (length && IsBlank(rest[length - 1]))
        --length;
    if (length && rest[length - 1] == L'"') {
        --length;
        if (rest[0] == L'"') {
            ++rest;
            --length;
        }
    }
    if (length == 0 || length >= kArgumentChars)
        return false;
    wmemcpy(folder, rest, length);
    folder[length] = 0;
    return true;
}

static void Mark(Arguments &read, bool &which, const WCHAR *word)
{
    if (!read.unknown && !read.malformed)
        Copy(read.problem, word);
    which = true;
}

void ReadArguments(const WCHAR *words, ArgumentsOf program, Arguments &read)
{
    ZeroMemory(&read, sizeof(read));
    read.desktopShortcut = read.quickLaunchShortcut = read.defaultBrowser = read.closeBrowser = read.removeData =
        read.userParts = read.downgrade = kOptionUnset;
    struct ZeroOrOne {
        const WCHAR *name;
        int *value;
        ArgumentsOf program;
    } choices[] = {
        {L"/DesktopShortcut=", &read.desktopShortcut, kSetupArguments},
        {L"/QuickLaunchShortcut=", &read.quickLaunchShortcut, kSetupArguments},
        {L"/DefaultBrowser=", &read.defaultBrowser, kSetupArguments},
        {L"/CloseBrowser=", &read.closeBrowser, kSetupArguments},
        {L"/UserParts=", &read.userParts, kSetupArguments},
        {L"/Downgrade=", &read.downgrade, kSetupArguments},
        {L"/RemoveData=", &read.removeData, kUninstallerArguments},
    };
    bool folderGiven = false, logGiven = false;
    const WCHAR *text = SkipBlanks(words ? words : L"");
    while (*text) {
        const WCHAR *start = text;
        const WCHAR *unquoted = *start == L'"' ? start + 1 : start;
        if (program == kSetupArguments && StartsWithOption(unquoted, L"/D=")) {
            // Whatever follows is the folder, so this is the last word.
            if (folderGiven || !ReadFolder(unquoted + 3, read.folder))
                Mark(read, read.malformed, L"/D=");
            folderGiven = true;
            break;
        }
        WCHAR word[kArgumentChars];
        if (!NextWord(text, word, kArgumentChars)) {
            Mark(read, read.malformed, word);
            continue;
        }
        if (IsOption(word, L"/S")) {
            if (read.silent)
                Mark(read, read.malformed, word);
            read.silent = true;
            continue;
        }
        if (IsOption(word, L"/?")) {
            if (read.help)
                Mark(read, read.malformed, word);
            read.help = true;
            continue;
        }
        if (StartsWithOption(word, L"/Log=")) {
            if (logGiven || !word[5] || !Copy(read.log, word + 5))
                Mark(read, read.malformed, L"/Log=");
            logGiven = true;
            continue;
        }
        bool known = false;
        for (ZeroOrOne &choice : choices) {
            if (choice.program != program || !StartsWithOption(word, choice.name))
                continue;
            known = true;
            const WCHAR *value = word + wcslen(choice.name);
            bool valid = (value[0] == L'0' || value[0] == L'1') && !value[1];
            if (*choice.value != kOptionUnset || !valid)
                Mark(read, read.malformed, word);
            else
                *choice.value = value[0] - L'0';
        }
        if (!known)
            Mark(read, read.unknown, word);
    }
}

bool ArgumentsAcceptable(const Arguments &read)
{
    return !read.malformed && !(read.silent && read.unknown);
}

bool FormUninstallerOptions(const Arguments &read, WCHAR *buffer, size_t capacity)
{
    return FormatText(buffer, capacity, L"%s%s%s%s%s", read.silent ? L" /S" : L"",
                      read.removeData == kOptionUnset ? L"" : read.removeData ? L" /RemoveData=1" : L" /RemoveData=0",
                      read.log[0] ? L" \"/Log=" : L"", read.log, read.log[0] ? L"\"" : L"");
}
