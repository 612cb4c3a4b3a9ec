#include "tools/payload/unpacker/UnpackRules.h"
#include <wchar.h>

static bool StartsWord(const WCHAR *line, const WCHAR *at)
{
    return at > line && (at[-1] == L' ' || at[-1] == L'\t' ||
                         (at[-1] == L'"' && (at - 1 == line || at[-2] == L' ' || at[-2] == L'\t')));
}

// The first "/P=" or "/T=" (`letter`) that starts a word, or null.
static const WCHAR *FindOption(const WCHAR *line, WCHAR letter, const WCHAR *before)
{
    for (const WCHAR *at = line; *at && (!before || at < before); ++at) {
        if (at[0] == L'/' && (at[1] == letter || at[1] == (WCHAR)(letter | 0x20)) && at[2] == L'=' &&
            StartsWord(line, at))
            return at;
    }
    return NULL;
}

bool ReadUnpackArguments(const WCHAR *commandLine, UnpackArguments &arguments)
{
    arguments.folder[0] = 0;
    arguments.threads = 0;
    if (!commandLine)
        return false;
    const WCHAR *folder = FindOption(commandLine, L'P', NULL);
    if (!folder || !folder[3])
        return false;
    const WCHAR *threads = FindOption(commandLine, L'T', folder);
    if (threads) {
        int count = 0;
        const WCHAR *digit = threads + 3;
        for (; *digit >= L'0' && *digit <= L'9' && count <= 64; ++digit)
            count = count * 10 + (*digit - L'0');
        bool quoted = threads[-1] == L'"' && *digit == L'"';
        if (digit == threads + 3 || (!quoted && *digit != L' ' && *digit != L'\t') || count < 1 || count > 64)
            return false;
        arguments.threads = count;
    }
    size_t length = wcslen(folder + 3);
    if (folder[-1] == L'"' && folder[3 + length - 1] == L'"')
        --length;
    if (length == 0 || length >= sizeof(arguments.folder) / sizeof(WCHAR))
        return false;
    wmemcpy(arguments.folder, folder + 3, length);
    arguments.folder[length] = 0;
    return true;
}

int CoresIn(ULONGLONG mask)
{
    int cores = 0;
    for (; mask; mask &= mask - 1)
        ++cores;
    return cores;
}

int DecoderThreads(int cores, int asked, ULONGLONG blocks)
{
    ULONGLONG threads = asked > 0 ? (ULONGLONG)asked : (cores > 0 ? (ULONGLONG)cores : 1);
    if (threads > blocks)
        threads = blocks;
    return threads > 0 ? (int)threads : 1;
}

int ThreadsWithinMemory(int threads, ULONGLONG perThread, ULONGLONG ceiling)
{
    if (perThread == 0)
        return threads;
    if (perThread > ceiling)
        return 0;
    ULONGLONG fit = ceiling / perThread;
    return (ULONGLONG)threads < fit ? threads : (int)fit;
}

bool SpillLeavesRoomForTheFiles(ULONGLONG available, ULONGLONG bytes, int files, int threads, ULONGLONG largestBlock,
                                ULONGLONG cluster)
{
    if (threads < 2 || cluster == 0)
        return false;
    // Each file, and every thread's spill (the writing thread's among them while it hands its
    // spill on), may take up to a cluster more than its bytes.
    ULONGLONG need = bytes + (ULONGLONG)files * cluster, spill = (ULONGLONG)threads * (largestBlock + cluster);
    return available >= need && available - need >= spill;
}

bool IsPlainRelativePath(const WCHAR *relative)
{
    if (!relative || relative[0] != L'\\')
        return false;
    for (const WCHAR *component = relative + 1;;) {
        const WCHAR *end = component;
        while (*end && *end != L'\\')
            ++end;
        size_t length = (size_t)(end - component);
        if (length == 0 || (length == 1 && component[0] == L'.') ||
            (length == 2 && component[0] == L'.' && component[1] == L'.'))
            return false;
        for (const WCHAR *c = component; c < end; ++c)
            if (*c < 32 || wcschr(L"<>:\"/|?*", *c))
                return false;
        if (!*end)
            return true;
        component = end + 1;
    }
}
