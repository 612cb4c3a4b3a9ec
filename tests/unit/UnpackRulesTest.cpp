// The payload program's decisions: its command line, its threads, what the decoder has checked.
#include <gtest/gtest.h>
#include "tools/payload/unpacker/UnpackRules.h"

namespace {

TEST(UnpackRules, TheFolderIsTheRestOfTheLineAfterP)
{
    struct Case {
        const wchar_t *line;
        bool read;
        const wchar_t *folder;
        int threads;
    } cases[] = {
        // The setup's own line: both paths unquoted, with spaces.
        {L"C:\\Windows\\Temp\\12 34\\velmarin3zip.exe /P=C:\\Windows\\Temp\\12 34\\Velmarin 3", true,
         L"C:\\Windows\\Temp\\12 34\\Velmarin 3", 0},
        {L"x.exe /P=D:\\岚舟 浏览器\\ ", true, L"D:\\岚舟 浏览器\\ ", 0},
        {L"x.exe \"/P=C:\\a b\"", true, L"C:\\a b", 0},
        {L"x.exe /T=2 /p=C:\\a", true, L"C:\\a", 2},
        {L"x.exe \"/T=1\" /P=C:\\a /T=9", true, L"C:\\a /T=9", 1},
        {L"x.exe", false, L"", 0},
        {L"x.exe /P=", false, L"", 0},
        {L"x.exe \"/P=\"", false, L"", 0},
        {L"x.exe a/P=C:\\a", false, L"", 0},
        {L"x.exe /T=0 /P=C:\\a", false, L"", 0},
        {L"x.exe /T=65 /P=C:\\a", false, L"", 0},
        {L"x.exe /T=2x /P=C:\\a", false, L"", 0},
    };
    for (const Case &c : cases) {
        UnpackArguments arguments;
        EXPECT_EQ(c.read, ReadUnpackArguments(c.line, arguments)) << testing::PrintToString(std::wstring(c.line));
        EXPECT_STREQ(c.folder, arguments.folder);
        EXPECT_EQ(c.threads, arguments.threads);
    }
    std::wstring tooLong = L"x.exe /P=C:\\" + std::wstring(1100, L'a');
    UnpackArguments arguments;
    EXPECT_FALSE(ReadUnpackArguments(tooLong.c_str(), arguments));
}

TEST(UnpackRules, ThreadsFollowTheCoresUpToTheBlocks)
{
    struct Case {
        int cores, asked;
        ULONGLONG blocks;
        int threads;
    } cases[] = {{2, 0, 10, 2}, {8, 0, 3, 3}, {16, 0, 1, 1}, {2, 1, 10, 1}, {2, 8, 10, 8}, {0, 0, 5, 1}};
    for (const Case &c : cases)
        EXPECT_EQ(c.threads, DecoderThreads(c.cores, c.asked, c.blocks)) << c.cores << " " << c.asked << " " << c.blocks;
}

// Two threads of 16 MiB blocks fit twice over; a block alone past the ceiling is refused.
TEST(UnpackRules, ThreadsWaitForMemoryAndTheSpillForRoom)
{
    const ULONGLONG MiB = 1 << 20, ceiling = 128 * MiB;
    struct Threads {
        int asked;
        ULONGLONG perThread;
        int threads;
    } threads[] = {{2, 17 * MiB, 2}, {8, 17 * MiB, 7}, {64, 17 * MiB, 7}, {1, ceiling, 1}, {2, ceiling + 1, 0},
                   {4, 0, 4}, {8, 64 * MiB, 2}};
    for (const Threads &c : threads)
        EXPECT_EQ(c.threads, ThreadsWithinMemory(c.asked, c.perThread, ceiling)) << c.asked << " " << c.perThread;

    // 100 MiB in 16 files take 100 MiB and 16 clusters; every thread may keep a block of 16 MiB
    // aside at once, and a cluster more.
    const ULONGLONG KiB = 1024;
    struct Room {
        ULONGLONG available;
        int threads;
        ULONGLONG cluster;
        bool spill;
    } rooms[] = {{100 * MiB + 64 * KiB + 32 * MiB + 8 * KiB, 2, 4 * KiB, true},
                 {100 * MiB + 64 * KiB + 32 * MiB + 8 * KiB - 1, 2, 4 * KiB, false},
                 {100 * MiB + 1 * MiB + 48 * MiB + 192 * KiB, 3, 64 * KiB, true},
                 {100 * MiB + 1 * MiB + 48 * MiB + 192 * KiB - 1, 3, 64 * KiB, false},
                 {99 * MiB, 2, 4 * KiB, false},
                 {1000 * MiB, 1, 4 * KiB, false},
                 {1000 * MiB, 2, 0, false},
                 {0, 2, 4 * KiB, false}};
    for (const Room &c : rooms)
        EXPECT_EQ(c.spill, SpillLeavesRoomForTheFiles(c.available, 100 * MiB, 16, c.threads, 16 * MiB, c.cluster))
            << c.available << " " << c.threads;
}

TEST(UnpackRules, OnlyPlainPathsBelowTheFolder)
{
    for (const wchar_t *plain : {L"\\Velmarin.exe", L"\\Skin\\Frost_Glass\\ico\\browser.ico", L"\\岚舟\\a b.txt"})
        EXPECT_TRUE(IsPlainRelativePath(plain)) << testing::PrintToString(std::wstring(plain));
    for (const wchar_t *refused : {L"Velmarin.exe", L"\\", L"\\a\\\\b", L"\\..\\x", L"\\a\\.\\b", L"\\a\\", L"\\C:x",
                                   L"\\a/b", L"\\a?", L"\\a\tb"})
        EXPECT_FALSE(IsPlainRelativePath(refused)) << testing::PrintToString(std::wstring(refused));
}

}
