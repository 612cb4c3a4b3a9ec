// Stand-in for the browser's extension DLLs: loads, exports its name, does nothing.
#include <windows.h>

extern "C" __declspec(dllexport) const char *ExtensionName()
{
    return VELMARIN_EXTENSION_NAME;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
