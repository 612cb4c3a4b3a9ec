// Replaces the files of one folder by those of another as the setup's update does, so that a
// test can end it at a chosen moment:  update_runner <new files> <install folder>
#include "engine/FileUpdate.h"

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3 || !RecoverInterruptedUpdate(argv[2]))
        return 2;
    CFileUpdate update(argv[1], argv[2]);
    if (!update.StageTree(L"")) {
        update.Abandon();
        return 1;
    }
    return update.Commit() ? 0 : 1;
}
