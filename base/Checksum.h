// CRC-32 (the ZIP polynomial) of bytes, chainable: pass the previous result as `crc`.
#pragma once
#include <windows.h>

DWORD Crc32(DWORD crc, const void *data, DWORD size);
