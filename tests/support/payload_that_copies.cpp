// A payload program that writes the stand-in set whole, in the packing order (the build's
// res\payload-files.txt), and then ends with the code VELMARIN_TEST_PAYLOAD_EXIT names: as the
// payload program ends with 5 when it finds damage only after a block's bytes are out, so that the
// setup's check may have found files whole that the program then cuts. With 0 it stands for a
// payload program that did its work, and shows that its files are taken then.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>

static std::wstring WindowsPath(const char *unixPath)
{
    std::wstring path = L"Z:";
    for (const char *c = unixPath; *c; ++c)
        path += *c == '/' ? L'\\' : (wchar_t)(unsigned char)*c;
    return path;
}

// Makes the folders of `relative` ("a\b\c.dll") below `root`.
static void MakeFolders(const std::wstring &root, const std::wstring &relative)
{
    for (size_t at = relative.find(L'\\'); at != std::wstring::npos; at = relative.find(L'\\', at + 1))
        CreateDirectoryW((root + L"\\" + relative.substr(0, at)).c_str(), nullptr);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    const wchar_t *folder = wcsstr(GetCommandLineW(), L"/P=");
    const char *build = getenv("VELMARIN_BUILD"), *code = getenv("VELMARIN_TEST_PAYLOAD_EXIT");
    if (!folder || !build || !code)
        return 2;
    std::wstring set = WindowsPath(build) + L"\\payload-files", target = folder + 3;
    FILE *list = _wfopen((WindowsPath(build) + L"\\res\\payload-files.txt").c_str(), L"r");
    if (!list)
        return 3;
    CreateDirectoryW(target.c_str(), nullptr);
    char line[1024];
    bool copied = true;
    while (fgets(line, sizeof(line), list)) {
        std::wstring relative;
        for (const char *c = line; *c && *c != '\n' && *c != '\r'; ++c)
            relative += *c == '/' ? L'\\' : (wchar_t)(unsigned char)*c;
        if (relative.empty())
            continue;
        MakeFolders(target, relative);
        copied = CopyFileW((set + L"\\" + relative).c_str(), (target + L"\\" + relative).c_str(), TRUE) && copied;
    }
    fclose(list);
    return copied ? atoi(code) : 4;
}
