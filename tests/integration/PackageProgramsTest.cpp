// The setup program the package's deferred action runs as the machine's account: only
// VelmarinSetup.exe where only administrators could have put it, held while it runs.
#include <gtest/gtest.h>
#include "deploy/PackagePrograms.h"
#include "support/TestSupport.h"
#include "support/WindowsLikeSecurity.h"

namespace {

TEST(PackagePrograms, OnlyTheProgramNamedWhereOnlyAdministratorsCouldPutItIsHeldAndRun)
{
    WindowsLikeSecurity security;
    std::wstring root = test::MakeTempDir(L"setup program");
    struct Case {
        const char *what;
        const wchar_t *folder, *name;
        const wchar_t *folderDescriptor, *fileDescriptor;  // null: only administrators'
        bool held;
    } cases[] = {
        {"the package's setup", L"\\Velmarin Setup", L"\\VelmarinSetup.exe", nullptr, nullptr, true},
        {"any case of its name", L"\\upper", L"\\VELMARINSETUP.EXE", nullptr, nullptr, true},
        {"another program", L"\\other", L"\\Tool.exe", nullptr, nullptr, false},
        {"a name that only ends so", L"\\ends", L"\\MyVelmarinSetup.exe", nullptr, nullptr, false},
        {"in a folder users may change", L"\\users", L"\\VelmarinSetup.exe",
         L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;BU)", nullptr, false},
        {"a file a user may change", L"\\granted", L"\\VelmarinSetup.exe", nullptr,
         L"O:BAD:AI(A;;FA;;;S-1-5-21-1004336348-1177238915-682003330-1001)(A;OICIID;FA;;;BA)", false},
        {"missing", L"\\missing", nullptr, nullptr, nullptr, false},
    };
    for (const Case &c : cases) {
        std::wstring folder = root + c.folder, program = folder + (c.name ? c.name : L"\\VelmarinSetup.exe");
        CreateDirectoryW(folder.c_str(), nullptr);
        if (c.name)
            test::WriteFile(program, "MZ");
        if (c.folderDescriptor)
            WindowsLikeSecurity::Descriptors()[WindowsLikeSecurity::Key(folder)] = c.folderDescriptor;
        if (c.fileDescriptor)
            WindowsLikeSecurity::Descriptors()[WindowsLikeSecurity::Key(program)] = c.fileDescriptor;
        HANDLE held = HoldPackageProgram(program.c_str(), L"\\VelmarinSetup.exe");
        EXPECT_EQ(c.held, held != INVALID_HANDLE_VALUE) << c.what;
        if (held == INVALID_HANDLE_VALUE)
            continue;
        // Held, it can be neither changed nor swapped until it has run.
        EXPECT_FALSE(MoveFileW(program.c_str(), (folder + L"\\moved.exe").c_str())) << c.what;
        EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(program.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                    OPEN_EXISTING, 0, nullptr)) << c.what;
        CloseHandle(held);
    }
    // A folder by that name, and the program on a network drive.
    CreateDirectoryW((root + L"\\VelmarinSetup.exe").c_str(), nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, HoldPackageProgram((root + L"\\VelmarinSetup.exe").c_str(), L"\\VelmarinSetup.exe"));
    if (GetDriveTypeW(L"Y:\\") == DRIVE_REMOTE) {
        test::WriteFile(L"Y:\\VelmarinSetup.exe", "MZ");
        EXPECT_EQ(INVALID_HANDLE_VALUE, HoldPackageProgram(L"Y:\\VelmarinSetup.exe", L"\\VelmarinSetup.exe"));
        DeleteFileW(L"Y:\\VelmarinSetup.exe");
    }
    test::RemoveTree(root);
}

}
