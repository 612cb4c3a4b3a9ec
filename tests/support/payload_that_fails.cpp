// A payload program that writes the stand-in set whole and then ends with 5: as the payload
// program does when it finds damage only after a block's bytes are out, so that the setup's
// check may have found files whole that the program then cuts.
#include <windows.h>
#include <stdlib.h>
#include <string>

static void CopyTree(const std::wstring &from, const std::wstring &to)
{
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CopyTree(from + L"\\" + name, to + L"\\" + name);
        else
            CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), TRUE);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    const wchar_t *folder = wcsstr(GetCommandLineW(), L"/P=");
    const char *build = getenv("VELMARIN_BUILD");
    if (!folder || !build)
        return 2;
    std::wstring set = L"Z:";
    for (const char *c = build; *c; ++c)
        set += *c == '/' ? L'\\' : (wchar_t)(unsigned char)*c;
    CopyTree(set + L"\\payload-files", folder + 3);
    return 5;
}
