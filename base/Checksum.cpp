#include "base/Checksum.h"

DWORD Crc32(DWORD crc, const void *data, DWORD size)
{
    static DWORD table[256];
    if (!table[1]) {
        for (DWORD i = 0; i < 256; ++i) {
            DWORD c = i;
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
    }
    const BYTE *bytes = (const BYTE *)data;
    crc = ~crc;
    for (DWORD i = 0; i < size; ++i)
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
