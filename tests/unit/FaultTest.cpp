// Faults reach Windows programs as Windows raises them. Where 32-bit programs run under
// emulation, this is what the preloaded trap-number mend makes true: without it an access
// violation arrives as an illegal instruction, and guard pages and write watches crash.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdio>

namespace {

struct Fault {
    DWORD code;
    ULONG_PTR kind, address;  // kind: 0 read, 1 write
} g_fault;
ULONG_PTR g_retryWith;

// Records the fault and retries an access through the "c" register at a good address, when one
// is set. A second fault means the first was taken for another kind, which would repeat for ever.
LONG CALLBACK RecordFault(EXCEPTION_POINTERS *pointers)
{
    const EXCEPTION_RECORD *record = pointers->ExceptionRecord;
    if (g_fault.code) {
        fprintf(stderr, "fault %08lx after %08lx\n", record->ExceptionCode, g_fault.code);
        ExitProcess(3);
    }
    g_fault = {record->ExceptionCode, record->ExceptionInformation[0], record->ExceptionInformation[1]};
    if (g_retryWith) {
#if defined(_WIN64)
        pointers->ContextRecord->Rcx = g_retryWith;
#else
        pointers->ContextRecord->Ecx = g_retryWith;
#endif
    }
    return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(Faults, AccessViolationsGuardPagesAndWriteWatchesWorkAsOnWindows)
{
    PVOID handler = AddVectoredExceptionHandler(1, RecordFault);
    volatile int target = 0;
    for (bool write : {true, false}) {
        g_fault = {};
        g_retryWith = (ULONG_PTR)&target;
        volatile void *bad = (volatile void *)(ULONG_PTR)0x1234;
        int value = 7;
        if (write)
            __asm__ __volatile__("mov %1, (%0)" : "+c"(bad) : "r"(value) : "memory");
        else
            __asm__ __volatile__("mov (%1), %0" : "=r"(value), "+c"(bad) : : "memory");
        EXPECT_EQ((DWORD)EXCEPTION_ACCESS_VIOLATION, g_fault.code) << write;
        EXPECT_EQ(write ? 1u : 0u, g_fault.kind);
        EXPECT_EQ((ULONG_PTR)0x1234, g_fault.address);
    }
    EXPECT_EQ(7, target) << "the write was retried at the good address";

    // The first touch of a guard page raises its exception once; a write watch raises nothing.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    g_fault = {};
    g_retryWith = 0;
    char *guarded = (char *)VirtualAlloc(nullptr, system.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE | PAGE_GUARD);
    ASSERT_NE(nullptr, guarded);
    guarded[0] = 1;
    guarded[1] = 2;
    EXPECT_EQ((DWORD)STATUS_GUARD_PAGE_VIOLATION, g_fault.code);
    EXPECT_EQ(3, guarded[0] + guarded[1]);
    VirtualFree(guarded, 0, MEM_RELEASE);
    g_fault = {};
    char *watched = (char *)VirtualAlloc(nullptr, 4 * system.dwPageSize, MEM_COMMIT | MEM_RESERVE | MEM_WRITE_WATCH, PAGE_READWRITE);
    ASSERT_NE(nullptr, watched);
    watched[2 * system.dwPageSize] = 1;
    void *pages[4] = {};
    ULONG_PTR count = 4;
    ULONG granularity = 0;
    ASSERT_EQ(0u, GetWriteWatch(0, watched, 4 * system.dwPageSize, pages, &count, &granularity));
    ASSERT_EQ(1u, count);
    EXPECT_EQ(watched + 2 * system.dwPageSize, pages[0]);
    EXPECT_EQ(0u, g_fault.code);
    VirtualFree(watched, 0, MEM_RELEASE);
    RemoveVectoredExceptionHandler(handler);
}

}
