// The product is built without exceptions: allocation goes straight to the process heap, so
// that the C++ runtime's exception machinery is not linked into the executable. No caller of
// plain new can handle a null result (the compiler assumes there is none): when memory runs
// out, the setup ends with a message instead.
#include <windows.h>
#include <new>

static void *AllocateOrEnd(size_t size)
{
    void *block = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    if (!block)
        FatalAppExitW(0, L"内存不足，安装程序无法继续运行。");
    return block;
}

void *operator new(size_t size)
{
    return AllocateOrEnd(size);
}

void *operator new[](size_t size)
{
    return AllocateOrEnd(size);
}

void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}

void operator delete(void *block) noexcept
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

void operator delete[](void *block) noexcept
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

void operator delete(void *block, size_t) noexcept
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

void operator delete[](void *block, size_t) noexcept
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

extern "C" void __cxa_pure_virtual()
{
    FatalAppExitW(0, L"pure virtual call");
}
