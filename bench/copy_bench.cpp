// Measures the install sequence's copy phase against a bare CopyFileW loop over the same tree,
// side by side, on a payload of realistic size (about 60 MB in about 500 files). The update is
// also set against the same file operations done plainly, without a journal: what replacing
// the files safely costs on this machine, whoever does it.
#include "app/InstallOptions.h"
#include "base/FileSystem.h"
#include "engine/update/FileUpdate.h"
#include "engine/payload/TempFolder.h"
#include <stdio.h>
#include <string>
#include <vector>
#include <algorithm>

static void WriteBytes(const std::wstring &path, size_t size)
{
    static std::vector<char> block(1 << 20, 'v');
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    for (size_t left = size; left > 0;) {
        DWORD chunk = (DWORD)std::min(left, block.size());
        WriteFile(file, block.data(), chunk, &written, nullptr);
        left -= chunk;
    }
    CloseHandle(file);
}

// Walks the tree below `from` in the order the file system gives: `folder` for each folder
// (before what it holds), `file` for each file, both with the path relative to `from`.
template <typename Folder, typename File>
static void Walk(const std::wstring &from, const std::wstring &relative, Folder &&folder, File &&file)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((from + relative + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = relative + L"\\" + entry.cFileName;
        if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0)
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            folder(name);
            Walk(from, name, folder, file);
        } else {
            file(name);
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

static void BareCopy(const std::wstring &from, const std::wstring &to)
{
    CreateDirectoryW(to.c_str(), nullptr);
    Walk(from, L"", [&](const std::wstring &folder) { CreateDirectoryW((to + folder).c_str(), nullptr); },
         [&](const std::wstring &file) { CopyFileW((from + file).c_str(), (to + file).c_str(), FALSE); });
}

// The file operations any update needs that keeps each installed file until its replacement is
// on the disk and never leaves a name empty, done plainly, with no journal: copy beside, flush,
// give the installed file a second name, rename the new one over it, and delete the second name.
static void PlainDurableSwap(const std::wstring &from, const std::wstring &to)
{
    std::vector<std::wstring> targets;
    Walk(from, L"", [](const std::wstring &) {}, [&](const std::wstring &file) {
        targets.push_back(to + file);
        CopyFileW((from + file).c_str(), (targets.back() + L".new").c_str(), FALSE);
    });
    for (const std::wstring &target : targets) {
        HANDLE file = CreateFileW((target + L".new").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        FlushFileBuffers(file);
        CloseHandle(file);
    }
    for (const std::wstring &target : targets) {
        CreateHardLinkW((target + L".old").c_str(), target.c_str(), nullptr);
        MoveFileExW((target + L".new").c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    for (const std::wstring &target : targets)
        DeleteFileW((target + L".old").c_str());
}

int wmain()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring root = std::wstring(temp) + L"velmarin copy bench";
    RemoveTreeOrScheduleAtRestart(root.c_str());
    std::wstring extract = root + L"\\extract";
    CreateDirectoryTree((extract + L"\\Skin\\Frost_Glass\\ico").c_str());
    WriteBytes(extract + L"\\Velmarin.exe", 6 << 20);
    WriteBytes(extract + L"\\WebApp.exe", 1 << 20);
    WriteBytes(extract + L"\\UnInst.exe", 512 << 10);
    const wchar_t *extensions[] = {L"GuardHub\\GuardHub", L"GuardHub\\urlproc", L"PlgKit\\PlgKit", L"PlgStrip\\PlgStrip",
                                   L"PlgBlock\\PlgBlock", L"PlgTabs\\PlgTabs", L"PlgRelay\\PlgRelay", L"PlgHint\\PlgHint",
                                   L"PlgFetch\\PlgFetch"};
    for (const wchar_t *extension : extensions) {
        std::wstring file = extract + L"\\Extensions\\" + extension + L".dll";
        CreateDirectoryTree(file.substr(0, file.rfind(L'\\')).c_str());
        WriteBytes(file, 1 << 20);
    }
    int files = 12;
    for (int folder = 0; folder < 8; ++folder) {
        std::wstring dir = extract + L"\\Skin\\Frost_Glass\\" + (folder == 0 ? L"ico" : L"part" + std::to_wstring(folder));
        CreateDirectoryW(dir.c_str(), nullptr);
        for (int i = 0; i < 61; ++i, ++files)
            WriteBytes(dir + L"\\image" + std::to_wstring(i) + L".png", 90 << 10);
    }
    printf("payload: %d files\n", files);

    std::vector<double> bare, fresh, update, plain;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    auto timed = [&](std::vector<double> &into, auto &&work) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        work();
        QueryPerformanceCounter(&end);
        into.push_back((end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
    };
    for (int round = 0; round < 5; ++round) {
        std::wstring a = root + L"\\bare" + std::to_wstring(round);
        timed(bare, [&] { BareCopy(extract, a); });
        RemoveTreeOrScheduleAtRestart(a.c_str());

        // A fresh installation into an empty folder, then an update of it.
        std::wstring b = root + L"\\install" + std::to_wstring(round);
        CreateDirectoryW(b.c_str(), nullptr);
        CInstallOptions options;
        wcscpy(options.m_strExtractDir, extract.c_str());
        wcscpy(options.m_strInstallDir, b.c_str());
        for (std::vector<double> *figures : {&fresh, &update}) {
            timed(*figures, [&] {
                CFileUpdate files(extract.c_str(), b.c_str());
                if (files.Open(0) != kUpdateReady || !options.CopyBrowserFiles(files))
                    printf("the copy failed\n");
            });
        }
        timed(plain, [&] { PlainDurableSwap(extract, b); });
        RemoveTreeOrScheduleAtRestart(b.c_str());
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    auto median = [](std::vector<double> &figures) {
        std::sort(figures.begin(), figures.end());
        return figures[figures.size() / 2];
    };
    double b = median(bare), f = median(fresh), u = median(update), p = median(plain);
    printf("bare CopyFileW loop: %.1f ms (median of %u)\n", b, (unsigned)bare.size());
    printf("fresh installation:  %.1f ms, ratio %.3f (goal: at most 1.10)\n", f, f / b);
    printf("update:              %.1f ms, ratio %.3f (goal: at most 1.60, flushes included)\n", u, u / b);
    printf("plain durable swap:  %.1f ms, ratio %.3f; the update takes %.2f times it\n", p, p / b, u / p);
    RemoveTreeOrScheduleAtRestart(root.c_str());
    return 0;
}
