// The product is built without exceptions: allocation goes straight to the process heap and
// returns null when memory runs out, so that the C++ runtime's exception machinery is not
// linked into the executable.
#include <windows.h>
#include <new>

void *operator new(size_t size)
{
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}

void *operator new[](size_t size)
{
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
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
