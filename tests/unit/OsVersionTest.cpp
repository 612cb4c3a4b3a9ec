#include <gtest/gtest.h>
#include "app/InstallOptions.h"

namespace {

struct OsRow {
    DWORD platform, major, minor;
    const wchar_t *servicePack;
    int expected;
};

TEST(OsVersion, ClassifiesEveryKnownSystem)
{
    const DWORD nt = VER_PLATFORM_WIN32_NT;
    const OsRow rows[] = {
        {nt, 5, 0, L"", 1},
        {nt, 5, 0, L"Service Pack 4", 1},
        {nt, 5, 1, L"Service Pack 1", 3},
        {nt, 5, 1, L"Service Pack 2", 4},
        {nt, 5, 1, L"Service Pack 3", 5},
        {nt, 5, 1, L"", 2},
        {nt, 5, 1, L"Service Pack 1a", 2},
        {nt, 5, 2, L"Service Pack 2", 6},
        {nt, 5, 3, L"", -1000},
        {nt, 6, 0, L"Service Pack 1", 8},
        {nt, 6, 0, L"Service Pack 2", 8},
        {nt, 6, 0, L"", 7},
        {nt, 6, 0, L"Service Pack 3", 7},
        {nt, 6, 1, L"", 9},
        {nt, 6, 1, L"Service Pack 1", 9},
        {nt, 6, 2, L"", -1000},
        {nt, 6, 3, L"", -1000},
        {nt, 7, 0, L"", 9},
        {nt, 7, 5, L"", 9},
        {nt, 4, 0, L"Service Pack 6", -1000},
        {nt, 10, 0, L"", -1000},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 10, L"", -1000},
    };
    for (const OsRow &row : rows) {
        EXPECT_EQ(row.expected, ClassifyOsVersion(row.platform, row.major, row.minor, row.servicePack))
            << row.major << "." << row.minor;
    }
}

TEST(OsVersion, CapabilitiesOnVistaSevenAndEveryWindowsFromEightOn)
{
    const struct {
        int code;
        DWORD real;
        bool registers;
    } rows[] = {
        {8, MAKEWORD(0, 6), true},      {9, MAKEWORD(1, 6), true},     {6, MAKEWORD(2, 5), false},
        {5, MAKEWORD(1, 5), false},     {-1000, MAKEWORD(2, 6), true}, {-1000, MAKEWORD(0, 10), true},
        {-1000, MAKEWORD(0, 4), false}, {-1000, 0, false},
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.registers, RegistersCapabilities(row.code, row.real)) << row.code << " " << row.real;
}

TEST(OsVersion, ServicePackTextComparesWithoutCase)
{
    EXPECT_EQ(4, ClassifyOsVersion(VER_PLATFORM_WIN32_NT, 5, 1, L"SERVICE PACK 2"));
    EXPECT_EQ(8, ClassifyOsVersion(VER_PLATFORM_WIN32_NT, 6, 0, L"service pack 1"));
    EXPECT_EQ(2, ClassifyOsVersion(VER_PLATFORM_WIN32_NT, 5, 1, nullptr));
}

TEST(OsVersion, RunningSystemIsAskedOnceAndCached)
{
    int first = GetOsVersionCode();
    EXPECT_TRUE(first == -1000 || (first >= 1 && first <= 9));
    EXPECT_EQ(first, GetOsVersionCode());
    CInstallOptions options;
    EXPECT_EQ(first, options.m_nOsVersion);
}

}
