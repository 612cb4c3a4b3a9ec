#include <gtest/gtest.h>
#include <cstdio>
#include <windows.h>
#include <objbase.h>

// Tells wine-run.sh that this program got as far as its own code (see there).
static void MarkStarted()
{
    const wchar_t *path = _wgetenv(L"VELMARIN_STARTED_MARK");
    if (FILE *file = path ? _wfopen(path, L"a") : nullptr) {
        fputs("started\n", file);
        fclose(file);
    }
}

int wmain(int argc, wchar_t **argv)
{
    MarkStarted();
    CoInitialize(nullptr);
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
