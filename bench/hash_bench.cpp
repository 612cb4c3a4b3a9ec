// Times the check of an extraction against a payload manifest, as the worker makes it after the
// payload installer ends:  hash_bench <manifest file> <extraction folder>
#include "engine/payload/PayloadManifest.h"
#include <stdio.h>
#include <stdlib.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3)
        return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD size = file == INVALID_HANDLE_VALUE ? 0 : GetFileSize(file, nullptr), read = 0;
    char *text = (char *)malloc(size + 1);
    bool loaded = text && ReadFile(file, text, size, &read, nullptr) && read == size;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    CPayloadManifest manifest;
    if (!loaded || !manifest.Parse(text, size)) {
        printf("no manifest in %ls\n", argv[1]);
        return 1;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    bool matches = ExtractionMatchesManifest(argv[2], manifest);
    QueryPerformanceCounter(&end);
    printf("hashing: %.0f ms for %d files, %.1f MB (%s)\n", (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart,
           manifest.FileCount(), manifest.TotalSize() / 1048576.0, matches ? "matches" : "DIFFERS");
    return matches ? 0 : 1;
}
