#include "engine/OpenHandles.h"
#include <stddef.h>
#include <stdlib.h>

const ACCESS_MASK kRightsThatChangeAnObject =
    WRITE_DAC | WRITE_OWNER | DELETE | FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | FILE_WRITE_EA;

bool OthersHoldAny(const OpenHandle *handles, size_t count, ULONG_PTR ownProcess, const HANDLE *own, int ownCount,
                   ACCESS_MASK rights)
{
    for (int i = 0; i < ownCount; ++i) {
        ULONG_PTR object = 0;
        for (size_t j = 0; j < count && !object; ++j) {
            if (handles[j].process == ownProcess && handles[j].value == (ULONG_PTR)own[i])
                object = handles[j].object;
        }
        if (!object)
            return true;
        for (size_t j = 0; j < count; ++j) {
            if (handles[j].object == object && handles[j].process != ownProcess && (handles[j].granted & rights))
                return true;
        }
    }
    return false;
}

namespace {

// SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, as ntdll gives it to a program of this build's width.
struct ExtendedEntry {
    void *object;
    ULONG_PTR process;
    ULONG_PTR value;
    ULONG granted;
    USHORT creatorBackTrace;
    USHORT type;
    ULONG attributes;
    ULONG reserved;
};
struct ExtendedList {
    ULONG_PTR count;
    ULONG_PTR reserved;
    ExtendedEntry entries[1];
};
typedef LONG(NTAPI *QuerySystemInformationFn)(ULONG, void *, ULONG, ULONG *);
const ULONG kSystemExtendedHandleInformation = 64;
const LONG kStatusInfoLengthMismatch = (LONG)0xC0000004;

}

OpenHandle *ReadOpenHandles(size_t &count)
{
    count = 0;
    QuerySystemInformationFn query = (QuerySystemInformationFn)(void *)GetProcAddress(
        GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
    if (!query)
        return NULL;
    // The list grows while it is read: asked again with room to spare until it fits.
    ULONG size = 1 << 20;
    ExtendedList *list = NULL;
    LONG status = kStatusInfoLengthMismatch;
    for (int attempt = 0; attempt < 8 && status == kStatusInfoLengthMismatch; ++attempt, size *= 2) {
        free(list);
        list = (ExtendedList *)malloc(size);
        if (!list)
            return NULL;
        ULONG needed = 0;
        status = query(kSystemExtendedHandleInformation, list, size, &needed);
    }
    OpenHandle *handles = NULL;
    if (status >= 0 && list->count <= (size - offsetof(ExtendedList, entries)) / sizeof(ExtendedEntry)) {
        handles = (OpenHandle *)malloc((list->count ? list->count : 1) * sizeof(OpenHandle));
        for (ULONG_PTR i = 0; handles && i < list->count; ++i) {
            const ExtendedEntry &entry = list->entries[i];
            OpenHandle handle = {(ULONG_PTR)entry.object, entry.process, entry.value, entry.granted};
            handles[i] = handle;
        }
        if (handles)
            count = list->count;
    }
    free(list);
    return handles;
}
