// Replaces the files of one folder by those of another as the setup's update does, so that a
// test can end it at a chosen moment or run two at once:
//   update_runner <new files> <install folder> [milliseconds to wait for another update
//                 [operation to end at]]
// The operation is the update's file operations counted: "<n>" ends the process right after
// the n-th, "<kind><n>" after the n-th of one kind (l hard link, m move, c copy, w journal
// write), as a kill or a power cut would. Exit code: 0 done, 1 failed, 2 bad arguments or an
// earlier run not resolved, 3 busy, 9 ended at the operation.
#include "engine/update/FileUpdate.h"
#include <stdlib.h>
#include <wctype.h>

namespace {

class EndingOperations : public CFileOperations {
public:
    EndingOperations(wchar_t kind, long at) : m_kind(kind), m_at(at), m_seen(0) {}
    bool CopyTo(const WCHAR *from, const WCHAR *to, bool mustBeNew) override
    {
        return After(L'c', CFileOperations::CopyTo(from, to, mustBeNew));
    }
    bool MoveIn(const WCHAR *from, const WCHAR *to, bool mustBeNew) override
    {
        return After(L'M', CFileOperations::MoveIn(from, to, mustBeNew));
    }
    bool FlushFile(const WCHAR *path) override { return After(L'f', CFileOperations::FlushFile(path)); }
    bool HardLink(const WCHAR *link, const WCHAR *existing) override
    {
        return After(L'l', CFileOperations::HardLink(link, existing));
    }
    bool Move(const WCHAR *from, const WCHAR *to, DWORD flags) override
    {
        return After(L'm', CFileOperations::Move(from, to, flags));
    }
    bool MakeFolder(const WCHAR *path) override { return After(L'd', CFileOperations::MakeFolder(path)); }
    void Discard(const WCHAR *folder, const WCHAR *relative) override
    {
        CFileOperations::Discard(folder, relative);
        After(L'x', true);
    }
    bool WriteJournal(HANDLE journal, const void *bytes, DWORD size) override
    {
        return After(L'w', CFileOperations::WriteJournal(journal, bytes, size));
    }
    bool FlushJournal(HANDLE journal) override { return After(L'F', CFileOperations::FlushJournal(journal)); }
    bool CutJournal(HANDLE journal, DWORD size) override { return After(L't', CFileOperations::CutJournal(journal, size)); }

private:
    bool After(wchar_t kind, bool result)
    {
        if ((m_kind == 0 || m_kind == kind) && ++m_seen == m_at)
            TerminateProcess(GetCurrentProcess(), 9);
        return result;
    }
    wchar_t m_kind;
    long m_at, m_seen;
};

}

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3 || argc > 5)
        return 2;
    wchar_t kind = argc == 5 && iswalpha(argv[4][0]) ? argv[4][0] : 0;
    EndingOperations ending(kind, argc == 5 ? wcstol(argv[4] + (kind ? 1 : 0), nullptr, 10) : 0);
    CFileUpdate update(argv[1], argv[2], &ending);
    switch (update.Open(argc >= 4 ? (DWORD)wcstoul(argv[3], nullptr, 10) : 0)) {
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
