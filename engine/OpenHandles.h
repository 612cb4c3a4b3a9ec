// Who else holds the objects the setup is about to rely on open, from the system's list of
// every process's handles: a right granted when a handle was opened stays with it, whatever
// permissions the object gets afterwards.
#pragma once
#include <windows.h>

// One handle of the system's list: the object it refers to, the process holding it, its value
// in that process and the rights it was granted.
struct OpenHandle {
    ULONG_PTR object;
    ULONG_PTR process;
    ULONG_PTR value;
    ACCESS_MASK granted;
};

// The rights that change a file or folder, its contents, its name or its permissions.
extern const ACCESS_MASK kRightsThatChangeAnObject;

// Whether, by `handles`, another process than `ownProcess` holds any of the objects that this
// process's handles `own` refer to with one of `rights`. True also where it cannot be told: one
// of `own` is missing from the list, or the list names no objects (as where the system hides
// them from the caller).
bool OthersHoldAny(const OpenHandle *handles, size_t count, ULONG_PTR ownProcess, const HANDLE *own, int ownCount,
                   ACCESS_MASK rights);

// The system's list of handles, or null where it cannot be read; `count` receives its length.
// The caller frees it with free().
OpenHandle *ReadOpenHandles(size_t &count);
