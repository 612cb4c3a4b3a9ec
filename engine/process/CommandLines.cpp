#include "engine/process/CommandLines.h"
#include "base/Format.h"

bool FormPayloadCommandLine(WCHAR *buffer, size_t capacity, const WCHAR *payloadFile, const WCHAR *extractDir)
{
    return FormatText(buffer, capacity, L"\"%s\" /P=%s", payloadFile, extractDir);
}

bool FormBrowserCommandLine(WCHAR *buffer, size_t capacity, const WCHAR *installDir, const WCHAR *arguments)
{
    if (arguments && arguments[0])
        return FormatText(buffer, capacity, L"\"%s\\Velmarin.exe\" %s", installDir, arguments);
    return FormatText(buffer, capacity, L"\"%s\\Velmarin.exe\"", installDir);
}

bool FormLaunchCommandLine(WCHAR *buffer, size_t capacity, const WCHAR *installDir)
{
    return FormatText(buffer, capacity, L"\"%s\\velmarin.exe\"", installDir);
}
