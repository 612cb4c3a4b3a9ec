#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

// Tells the script that runs the tests that this program got as far as its own code, so that a
// start the emulator lost before then can be told from a test that failed.
static void MarkStarted()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"VELMARIN_STARTED_MARK", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, "started\n", 8, &written, nullptr);
    CloseHandle(file);
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
