// Replaces the files of one folder by those of another as the setup's update does, so that a
// test can end it at a chosen moment or run two at once:
//   update_runner <new files> <install folder> [milliseconds to wait for another update]
// Exit code: 0 done, 1 failed, 2 bad arguments or an earlier run not resolved, 3 busy.
#include "engine/FileUpdate.h"
#include <stdlib.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3 && argc != 4)
        return 2;
    CFileUpdate update(argv[1], argv[2]);
    switch (update.Open(argc == 4 ? (DWORD)wcstoul(argv[3], nullptr, 10) : 0)) {
    case kUpdateReady:
        break;
    case kUpdateBusy:
        return 3;
    default:
        return 2;
    }
    if (!update.StageTree(L"")) {
        update.Abandon();
        return 1;
    }
    return update.Commit() ? 0 : 1;
}
