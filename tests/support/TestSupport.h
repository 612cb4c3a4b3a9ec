// Helpers shared by the tests: temporary folders, files, registry clean-up, windows and
// message boxes found by caption, the stand-in browser of the build.
#pragma once
#include <windows.h>
#include <string>
#include <map>
#include <vector>
#include <functional>
#include <mutex>
#include "engine/update/FileUpdate.h"

namespace test {

// A new, empty folder below %TEMP% whose name contains `tag` (spaces welcome).
std::wstring MakeTempDir(const std::wstring &tag);
void RemoveTree(const std::wstring &path);
bool FileExists(const std::wstring &path);
bool DirExists(const std::wstring &path);
void WriteFile(const std::wstring &path, const std::string &bytes);
std::string ReadFile(const std::wstring &path);
// Lines of a UTF-8 text file, CR LF removed.
std::vector<std::string> ReadLines(const std::wstring &path);
std::string Utf8(const std::wstring &text);

// A Unix path in an environment variable as a Windows path ("Z:..."); empty when unset.
std::wstring PathFromEnvironment(const char *name);
// The build folder (where the stand-in file set and the setup lie), as a Windows path.
std::wstring BuildDir();
// The SID of the account the tests run as, as text.
std::wstring AccountSid();
// The stand-in browser file set the payload is packed from.
std::wstring StandInFiles();
// The built setup, or the one the environment variable VELMARIN_SETUP_EXE names (a Unix path).
std::wstring SetupExe();

// Registry
std::wstring ReadRegString(HKEY root, const std::wstring &key, const std::wstring &name, bool *found = nullptr);
DWORD ReadRegDword(HKEY root, const std::wstring &key, const std::wstring &name, bool *found = nullptr);
bool RegKeyExists(HKEY root, const std::wstring &key);
void DeleteRegTree(HKEY root, const std::wstring &key);

// Windows
HWND WaitForWindow(const std::wstring &caption, DWORD timeoutMs, DWORD processId = 0);
// Top-level windows of a process with exactly this caption.
std::vector<HWND> WindowsOf(DWORD processId, const std::wstring &caption);

// Answers message boxes on a helper thread: each time a box with the caption appears in the
// process (this one by default), the next button of `answers` (IDOK, IDCANCEL, IDRETRY, IDYES,
// IDNO) is pressed.
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer(const std::wstring &caption, std::vector<int> answers, DWORD processId = 0);
    ~MessageBoxAnswerer();
    // How many boxes were answered, and their texts.
    int Answered() const;
    std::vector<std::wstring> Texts() const;

private:
    static DWORD WINAPI Run(LPVOID self);
    std::wstring m_caption;
    std::vector<int> m_answers;
    DWORD m_processId;
    std::vector<std::wstring> m_texts;
    volatile LONG m_answered;
    volatile LONG m_stop;
    HANDLE m_thread;
    mutable CRITICAL_SECTION m_lock;
};

// Runs a command line and returns the process handle (caller closes), or null.
HANDLE StartProcess(const std::wstring &commandLine, DWORD *processId = nullptr);
// A road of the 64-bit prefix (VELMARIN_WIN64=1): the shipped 32-bit programs on 64-bit Windows.
bool RunsOnWin64Road();
// Whether 64-bit programs can run here: a 32-bit prefix is 32-bit Windows, which has none.
bool OnSixtyFourBitWindows();
// On such a road, fails the test unless the process runs as a 32-bit program on 64-bit Windows,
// so that no road falls back to a 64-bit build unnoticed.
void ExpectThirtyTwoBitOnWin64(HANDLE process);
// Pumps this thread's messages for a while (so posted messages to our windows arrive).
void PumpMessages(DWORD milliseconds);

// While it lives, the screen's DPI is `dpi` for the programs that start (Wine reads it when a
// process starts); then 96 again. The suite runs one case at a time, so no other program starts
// meanwhile.
struct ScreenDpi {
    explicit ScreenDpi(DWORD dpi) { Set(dpi); }
    ~ScreenDpi() { Set(96); }
    static void Set(DWORD dpi);
};

// While it lives, Wine tells the program `exe` (a file name) that it runs on the Windows version
// `version` ("win10", ...) instead of the prefix's.
class ReportedWindowsVersion {
public:
    ReportedWindowsVersion(const std::wstring &exe, const wchar_t *version);
    ~ReportedWindowsVersion();

private:
    std::wstring m_key;
};

}

namespace test {

// A message-only window of the test thread that records the setup's private messages posted
// to it, as a progress page would receive them. -1 stands for WM_SETUP_END.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    HWND Window() const { return m_window; }
    // Pumps until WM_SETUP_END arrived or the time is up; returns what arrived.
    std::vector<int> WaitForEnd(DWORD timeoutMs);
    // Pumps for a while and returns what arrived so far.
    std::vector<int> Collect(DWORD milliseconds);
    bool Ended() const;

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HWND m_window;
    std::vector<int> m_received;
};

// The file table of the install sequence, relative to the extraction or install folder.
const std::vector<std::wstring> &PayloadFileTable();

// Ends every process started from a file below `folder` and waits for them.
void EndProcessesIn(const std::wstring &folder);

}

namespace test {

// Points TEMP and TMP of this process at a folder of the test while it lives.
class TempPathGuard {
public:
    explicit TempPathGuard(const std::wstring &folder);
    ~TempPathGuard();

private:
    wchar_t m_tmp[MAX_PATH] = {};
    wchar_t m_temp[MAX_PATH] = {};
};

// While it lives, the protections the setup applies through its security hooks are noted, not
// applied: the folder, whether it held no file then, the descriptor. Folders below one of
// `refusedBelow` (L"" for all) refuse theirs, as on a volume without access lists. `onApply`
// runs on the setup's thread with each folder noted.
struct AppliedProtections {
    explicit AppliedProtections(std::vector<std::wstring> refusedBelow = {});
    ~AppliedProtections();
    struct Applied {
        std::wstring folder;
        bool emptyThen;
        std::string descriptor;
    };
    std::vector<std::wstring> refusedBelow;
    std::vector<Applied> applied;
    std::function<void(const std::wstring &)> onApply;
};

// Removes everything the registration writes (the uninstall entry, App Paths, the client and
// URL class keys).
void RemoveBrowserRegistration();

// A stand-in Velmarin.exe the build made with another version: "older" (3.1.5.0) or "newer"
// (3.10.0.0) than the setup's.
std::wstring PlantedBrowser(const std::wstring &which);
// Makes `browser` the installed browser as an installation leaves it: its App Paths entry, and
// with a version text, "DisplayVersion" of the uninstall entry. RemoveBrowserRegistration undoes it.
void PlantInstalledBrowser(const std::wstring &browser, const std::wstring &displayVersion = L"");

// A shell link as the shell's own link object reads it back.
struct LinkContents {
    bool read = false;
    std::wstring target, workingDir, arguments;
};
LinkContents ReadLink(const std::wstring &path);

// Every file below a folder, by its path relative to the folder ("\\sub\\name"), with its content.
std::map<std::wstring, std::string> FolderContents(const std::wstring &folder);
// The sizes of every file below a folder, added up.
ULONGLONG FolderBytes(const std::wstring &folder);
// No file or mark of an update that was not finished is left below the folder.
void ExpectNoUpdateLeftovers(const std::wstring &folder);

// Makes `link` a Unix symbolic link to `target` (both Windows paths), as a junction would be
// planted; Wine shows it as a reparse point. False when it could not be made.
bool MakeSymbolicLink(const std::wstring &link, const std::wstring &target);
// Removes such a link itself (Wine cannot remove a link shown as a folder); RemoveTree does so
// for every link it meets.
void RemoveSymbolicLink(const std::wstring &link);
// Maps a drive letter of the prefix to a folder, as a drive of its own (its root is the folder).
bool MapDrive(wchar_t letter, const std::wstring &target);
void UnmapDrive(wchar_t letter);
// Mounts a file system of `kilobytes` on `folder` (made here) and maps drive `letter` to it;
// false where the tests may not mount one (they are not run as root).
bool MountSmallDrive(wchar_t letter, const std::wstring &folder, int kilobytes);
void UnmountSmallDrive(wchar_t letter, const std::wstring &folder);
// Mounts an empty read-only file system on `folder` (made here), the running user's own: a place
// nobody can write into and nobody else owns a part of. False where the tests may not mount one.
bool MountReadOnlyFolder(const std::wstring &folder);
void UnmountFolder(const std::wstring &folder);

// Copies a folder tree (for preparing extraction and install folders).
void CopyTree(const std::wstring &from, const std::wstring &to);

}

namespace test {

// The real file operations, each one seen before and after it runs.
class WatchedOperations : public CFileOperations {
public:
    struct Event {
        char op;  // c copy, M move in, f flush file, v flush volume, l link, m move, d folder, x discard, w journal write,
                  // F journal flush, t cut
        std::wstring path, to;
        wchar_t record;  // the kind of a journal write
        bool result;
    };
    std::vector<Event> events;
    std::string journal;  // what the journal holds, as written
    std::function<void(const Event &)> before, after;

    using Base = CFileOperations;
    bool CopyTo(const WCHAR *from, const WCHAR *to, bool mustBeNew) override
    { return Run('c', to, from, [&] { return Base::CopyTo(from, to, mustBeNew); }); }
    bool MoveIn(const WCHAR *from, const WCHAR *to, bool mustBeNew) override
    { return Run('M', to, from, [&] { return Base::MoveIn(from, to, mustBeNew); }); }
    bool FlushVolume(const WCHAR *folder) override { return Run('v', folder, L"", [&] { return Base::FlushVolume(folder); }); }
    bool FlushFile(const WCHAR *path) override { return Run('f', path, L"", [&] { return Base::FlushFile(path); }); }
    bool HardLink(const WCHAR *link, const WCHAR *existing) override
    { return Run('l', link, existing, [&] { return Base::HardLink(link, existing); }); }
    bool Move(const WCHAR *from, const WCHAR *to, DWORD flags) override
    { return Run('m', from, to, [&] { return Base::Move(from, to, flags); }); }
    bool MakeFolder(const WCHAR *path) override { return Run('d', path, L"", [&] { return Base::MakeFolder(path); }); }
    void Discard(const WCHAR *folder, const WCHAR *relative) override
    { Run('x', (std::wstring(folder) + relative).c_str(), L"", [&] { Base::Discard(folder, relative); return true; }); }
    bool WriteJournal(HANDLE file, const void *bytes, DWORD size) override
    {
        journal.append((const char *)bytes, size);
        return Run('w', L"", L"", [&] { return Base::WriteJournal(file, bytes, size); }, ((const wchar_t *)bytes)[4]);
    }
    bool FlushJournal(HANDLE file) override { return Run('F', L"", L"", [&] { return Base::FlushJournal(file); }); }
    bool CutJournal(HANDLE file, DWORD size) override
    {
        journal.resize(size);
        return Run('t', L"", L"", [&] { return Base::CutJournal(file, size); });
    }

private:
    bool Run(char op, const WCHAR *path, const WCHAR *to, const std::function<bool()> &operation, wchar_t record = 0);
    std::recursive_mutex m_lock;
};

// A journal of the records given (each its kind and its fields as UTF-16 units) after the first,
// every CRC valid: what anyone who may write into the folder can forge.
std::string ForgedJournal(const std::vector<std::wstring> &records);
// A file the update puts in place, replacing an installed one under its set-aside name
// ("<relative>.0000.vmold") or new.
std::wstring FileRecord(const std::wstring &relative, bool replaces);
// File `index` of the plan is in place.
std::wstring SwappedRecord(DWORD index);

// Leaves `folder` as an update from `source` that a power cut stopped right after it swapped in
// its first file: the files and the journal as they were at that moment.
void LeaveStoppedUpdate(const std::wstring &source, const std::wstring &folder);

// The payload program of the stand-in set packed in blocks of 64 KiB (several threads decode it),
// its .xz stream, and a copy of it in `folder` that carries `stream` instead.
std::wstring BlocksPayloadProgram();
std::string BlocksPayloadStream();
std::wstring PayloadProgramWithStream(const std::wstring &folder, const std::string &stream);

}
