// Faults reach Windows programs as Windows raises them. Where 32-bit programs run under
// emulation, this is what the preloaded trap-number mend makes true: without it an access
// violation arrives as an illegal instruction, and guard pages and write watches crash.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdio>

namespace {

struct Fault {
    DWORD code = 0;
    ULONG_PTR kind = ~ULONG_PTR(0);  // 0 read, 1 write
    ULONG_PTR address = 0;
    ULONG_PTR retryWith = 0;
};
Fault g_fault;

// Records the fault; an access through the "c" register is retried with a good address.
LONG CALLBACK RecordFault(EXCEPTION_POINTERS *pointers)
{
    const EXCEPTION_RECORD *record = pointers->ExceptionRecord;
    if (g_fault.code) {
        // The retry faulted again: a fault taken for another kind would repeat for ever.
        fprintf(stderr, "fault %08lx after %08lx\n", record->ExceptionCode, g_fault.code);
        ExitProcess(3);
    }
    g_fault.code = record->ExceptionCode;
    if (record->NumberParameters >= 2) {
        g_fault.kind = record->ExceptionInformation[0];
        g_fault.address = record->ExceptionInformation[1];
    }
    if (g_fault.retryWith) {
#if defined(_WIN64)
        pointers->ContextRecord->Rcx = g_fault.retryWith;
#else
        pointers->ContextRecord->Ecx = g_fault.retryWith;
#endif
    }
    return EXCEPTION_CONTINUE_EXECUTION;
}

void WriteThroughC(volatile void *address, int value)
{
    __asm__ __volatile__("mov %1, (%0)" : "+c"(address) : "r"(value) : "memory");
}

int ReadThroughC(volatile void *address)
{
    int value;
    __asm__ __volatile__("mov (%1), %0" : "=r"(value), "+c"(address) : : "memory");
    return value;
}

class Faults : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_fault = Fault();
        m_handler = AddVectoredExceptionHandler(1, RecordFault);
    }
    void TearDown() override { RemoveVectoredExceptionHandler(m_handler); }
    PVOID m_handler = nullptr;
};

TEST_F(Faults, AnAccessViolationArrivesAsOneWithItsAddressAndKind)
{
    volatile int target = 0;
    const struct {
        const char *what;
        bool write;
    } cases[] = {{"write", true}, {"read", false}};
    for (const auto &c : cases) {
        g_fault = Fault();
        g_fault.retryWith = (ULONG_PTR)&target;
        volatile void *bad = (volatile void *)(ULONG_PTR)0x1234;
        if (c.write)
            WriteThroughC(bad, 7);
        else
            ReadThroughC(bad);
        EXPECT_EQ((DWORD)EXCEPTION_ACCESS_VIOLATION, g_fault.code) << c.what;
        EXPECT_EQ(c.write ? 1u : 0u, g_fault.kind) << c.what;
        EXPECT_EQ((ULONG_PTR)0x1234, g_fault.address) << c.what;
    }
    EXPECT_EQ(7, target) << "the write was retried at the good address";
}

TEST_F(Faults, GuardPagesAndWriteWatchesWork)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    char *guarded = (char *)VirtualAlloc(nullptr, system.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE | PAGE_GUARD);
    ASSERT_NE(nullptr, guarded);
    guarded[0] = 1;  // the first touch raises the guard-page exception, once
    EXPECT_EQ((DWORD)STATUS_GUARD_PAGE_VIOLATION, g_fault.code);
    guarded[1] = 2;
    EXPECT_EQ(1, guarded[0]);
    EXPECT_EQ(2, guarded[1]);
    VirtualFree(guarded, 0, MEM_RELEASE);

    g_fault = Fault();
    char *watched = (char *)VirtualAlloc(nullptr, 4 * system.dwPageSize, MEM_COMMIT | MEM_RESERVE | MEM_WRITE_WATCH, PAGE_READWRITE);
    ASSERT_NE(nullptr, watched);
    watched[2 * system.dwPageSize] = 1;
    void *pages[4] = {};
    ULONG_PTR count = 4;
    ULONG granularity = 0;
    ASSERT_EQ(0u, GetWriteWatch(0, watched, 4 * system.dwPageSize, pages, &count, &granularity));
    ASSERT_EQ(1u, count);
    EXPECT_EQ(watched + 2 * system.dwPageSize, pages[0]);
    EXPECT_EQ(0u, g_fault.code) << "a write watch raises nothing in the program";
    VirtualFree(watched, 0, MEM_RELEASE);
}

}
