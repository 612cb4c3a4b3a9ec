// The record as text: one item a line, its fields separated by tabs, a CRC at the end.
#include "engine/record/InstallRecord.h"
#include "base/Checksum.h"
#include "base/Format.h"
#include "base/FileSystem.h"
#include "engine/payload/PayloadManifest.h"
#include "engine/Product.h"
#include <shlwapi.h>
#include <stdlib.h>
#include <string.h>
#include "engine/record/InstallRecordPlaces.h"

static const char kRecordHeader[] = "velmarin-install-record\t1";

namespace {
struct TextBuffer {
    char *bytes;
    DWORD length;
    DWORD capacity;
    bool failed;
};
}

static void Put(TextBuffer &text, const char *bytes, DWORD length)
{
    if (text.failed)
        return;
    if (text.length + length + 1 > text.capacity) {
        DWORD capacity = (text.capacity + length + 1) * 2;
        char *grown = (char *)realloc(text.bytes, capacity);
        if (!grown) {
            text.failed = true;
            return;
        }
        text.bytes = grown;
        text.capacity = capacity;
    }
    memcpy(text.bytes + text.length, bytes, length);
    text.length += length;
    text.bytes[text.length] = 0;
}

static void PutText(TextBuffer &text, const char *bytes)
{
    Put(text, bytes, (DWORD)strlen(bytes));
}

static void PutField(TextBuffer &text, const WCHAR *field)
{
    char utf8[MAX_PATH * 3 + 1];
    int length = WideCharToMultiByte(CP_UTF8, 0, field, -1, utf8, sizeof(utf8), NULL, NULL);
    if (length <= 0) {
        text.failed = true;
        return;
    }
    Put(text, "\t", 1);
    Put(text, utf8, (DWORD)length - 1);
}

static void PutHash(TextBuffer &text, const BYTE (&sha256)[32], ULONGLONG size)
{
    char field[100];
    int at = 0;
    field[at++] = '\t';
    for (BYTE byte : sha256) {
        field[at++] = "0123456789abcdef"[byte >> 4];
        field[at++] = "0123456789abcdef"[byte & 15];
    }
    field[at++] = '\t';
    char digits[24];
    int count = 0;
    do {
        digits[count++] = (char)('0' + size % 10);
        size /= 10;
    } while (size);
    while (count)
        field[at++] = digits[--count];
    Put(text, field, (DWORD)at);
}

char *CInstallRecord::Serialize(DWORD &length) const
{
    TextBuffer text = {NULL, 0, 0, false};
    PutText(text, kRecordHeader);
    PutText(text, m_bMadeFolder ? "\nfolder\t1" : "\nfolder\t0");
    PutField(text, m_folder);
    for (int i = 0; i < m_count; ++i) {
        const RecordItem &item = m_items[i];
        switch (item.kind) {
        case RecordItem::kFile:
        case RecordItem::kLink:
            PutText(text, item.kind == RecordItem::kFile ? "\nfile" : "\nlink");
            PutHash(text, item.sha256, item.size);
            PutField(text, item.path);
            break;
        case RecordItem::kMadeFolder:
            PutText(text, "\ndir");
            PutField(text, item.path);
            break;
        case RecordItem::kMadeKey:
        case RecordItem::kValue:
            PutText(text, item.kind == RecordItem::kMadeKey ? "\nkey\t" : "\nvalue\t");
            PutText(text, "HKLM");
            PutText(text, item.view == 64 ? "\t64" : "\t32");
            PutField(text, item.path);
            if (item.kind == RecordItem::kValue) {
                PutField(text, item.name);
                PutText(text, item.type == REG_DWORD ? "\tdword" : "\tsz");
                PutField(text, item.data);
            }
            break;
        }
    }
    PutText(text, "\n");
    char end[32];
    wsprintfA(end, "end\t%08lx\n", (unsigned long)Crc32(0, text.bytes, text.length));
    PutText(text, end);
    if (text.failed) {
        free(text.bytes);
        return NULL;
    }
    length = text.length;
    return text.bytes;
}

// The tab-separated fields of one line, as wide texts.
namespace {
struct LineFields {
    enum { kMost = 8 };
    WCHAR field[kMost][MAX_PATH];
    int count;
};
}

static bool SplitLine(const char *line, size_t length, LineFields &fields)
{
    fields.count = 0;
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && line[i] != '\t')
            continue;
        if (fields.count == LineFields::kMost)
            return false;
        int chars = (int)(i - start);
        WCHAR *out = fields.field[fields.count++];
        int written = chars ? MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line + start, chars, out, MAX_PATH - 1) : 0;
        if (chars && written <= 0)
            return false;
        out[written] = 0;
        start = i + 1;
    }
    return true;
}

static bool ReadHash(const WCHAR *hex, const WCHAR *decimal, BYTE (&sha256)[32], ULONGLONG &size)
{
    if (wcslen(hex) != 64)
        return false;
    for (int i = 0; i < 64; ++i) {
        const WCHAR *digits = L"0123456789abcdef";
        const WCHAR *at = wcschr(digits, hex[i]);
        if (!at || !hex[i])
            return false;
        BYTE nibble = (BYTE)(at - digits);
        sha256[i / 2] = (BYTE)(i % 2 ? (sha256[i / 2] | nibble) : nibble << 4);
    }
    size = 0;
    if (!decimal[0] || wcslen(decimal) > 19)
        return false;
    for (const WCHAR *c = decimal; *c; ++c) {
        if (*c < L'0' || *c > L'9')
            return false;
        size = size * 10 + (*c - L'0');
    }
    return true;
}

static bool ReadKeyFields(const LineFields &fields, RecordItem &item)
{
    item.root = HKEY_LOCAL_MACHINE;
    // Earlier setups wrote the URL class through HKEY_CLASSES_ROOT: it means the machine's classes.
    const WCHAR *prefix = L"";
    if (lstrcmpW(fields.field[1], L"HKCR") == 0)
        prefix = L"SOFTWARE\\Classes\\";
    else if (lstrcmpW(fields.field[1], L"HKLM") != 0)
        return false;
    if (lstrcmpW(fields.field[2], L"32") == 0)
        item.view = 32;
    else if (lstrcmpW(fields.field[2], L"64") == 0)
        item.view = 64;
    else
        return false;
    return Format(item.path, L"%s%s", prefix, fields.field[3]);
}

RecordLoadResult CInstallRecord::Parse(const char *text, size_t length, const WCHAR *folder, const RecordPlaces &places)
{
    Clear();
    // The last line, "end\t<8 hex digits>\n", vouches for every byte before it.
    const size_t endLength = 13;
    if (length < sizeof(kRecordHeader) + endLength || memcmp(text, kRecordHeader, sizeof(kRecordHeader) - 1) != 0)
        return kRecordDamaged;
    const char *endLine = text + length - endLength;
    char expected[16];
    wsprintfA(expected, "end\t%08lx\n", (unsigned long)Crc32(0, text, (DWORD)(endLine - text)));
    if (endLine[-1] != '\n' || memcmp(endLine, expected, endLength) != 0)
        return kRecordDamaged;
    --endLine;

    LineFields *fields = (LineFields *)malloc(sizeof(LineFields));
    RecordLoadResult result = fields ? kRecordValid : kRecordDamaged;
    bool sawFolder = false;
    const char *at = text + sizeof(kRecordHeader) - 1;
    while (result == kRecordValid && at < endLine) {
        if (*at != '\n') {
            result = kRecordDamaged;
            break;
        }
        const char *line = ++at;
        while (at < endLine && *at != '\n')
            ++at;
        if (at == line)
            continue;
        if (!SplitLine(line, (size_t)(at - line), *fields)) {
            result = kRecordDamaged;
            break;
        }
        const LineFields &f = *fields;
        const WCHAR *kind = f.field[0];
        RecordItem item;
        memset(&item, 0, sizeof(item));
        bool read = false;
        if (lstrcmpW(kind, L"folder") == 0 && f.count == 3 && !sawFolder) {
            sawFolder = true;
            m_bMadeFolder = lstrcmpW(f.field[1], L"1") == 0;
            // The record belongs to the folder it lies in: a record carried elsewhere is not trusted.
            if (!Copy(m_folder, f.field[2]) || !SameIgnoringCase(m_folder, folder) || !IsFullDrivePath(m_folder) ||
                IsSystemFolder(m_folder))
                result = kRecordRefused;
            continue;
        } else if ((lstrcmpW(kind, L"file") == 0 || lstrcmpW(kind, L"link") == 0) && f.count == 4) {
            item.kind = kind[0] == L'f' ? RecordItem::kFile : RecordItem::kLink;
            read = ReadHash(f.field[1], f.field[2], item.sha256, item.size) && Copy(item.path, f.field[3]);
        } else if (lstrcmpW(kind, L"dir") == 0 && f.count == 2) {
            item.kind = RecordItem::kMadeFolder;
            read = Copy(item.path, f.field[1]);
        } else if (lstrcmpW(kind, L"key") == 0 && f.count == 4) {
            item.kind = RecordItem::kMadeKey;
            read = ReadKeyFields(f, item);
        } else if (lstrcmpW(kind, L"value") == 0 && f.count == 7) {
            item.kind = RecordItem::kValue;
            item.type = lstrcmpW(f.field[5], L"dword") == 0 ? REG_DWORD : REG_SZ;
            read = ReadKeyFields(f, item) && Copy(item.name, f.field[4]) && Copy(item.data, f.field[6]) &&
                   (item.type == REG_DWORD || lstrcmpW(f.field[5], L"sz") == 0);
        }
        if (!read) {
            result = kRecordDamaged;
        } else if (sawFolder && item.kind == RecordItem::kMadeKey && IsSharedParentKey(item.path)) {
            // Earlier setups recorded the shared keys on the way to their own as made: they are
            // every program's, never removed, and no reason to distrust the record.
        } else if (!sawFolder || !Accepts(item, places)) {
            result = kRecordRefused;
        } else {
            RecordItem *kept = Append(item.kind, item.path);
            if (kept)
                *kept = item;
            else
                result = kRecordDamaged;
        }
    }
    free(fields);
    if (result == kRecordValid && !sawFolder)
        result = kRecordDamaged;
    if (result != kRecordValid)
        Clear();
    return result;
}
