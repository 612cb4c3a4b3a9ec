#include "engine/InstallRecord.h"
#include "base/Checksum.h"
#include "base/Format.h"
#include "engine/FileSystem.h"
#include "engine/PayloadManifest.h"
#include "engine/Product.h"
#include <shlwapi.h>
#include <stdlib.h>
#include <string.h>

const WCHAR kRecordFileName[] = L"VelmarinSetup.record";
static const char kRecordHeader[] = "velmarin-install-record\t1";
// Far more than any file set: a record beyond it is not one of ours.
static const int kMostItems = 100000;

// One character as the file system compares names: upper case, nothing else folded or ignored.
static WCHAR FoldCase(WCHAR c)
{
    if (c < 0x80)
        return c >= L'a' && c <= L'z' ? (WCHAR)(c - 32) : c;
    CharUpperBuffW(&c, 1);
    return c;
}

bool SameIgnoringCase(const WCHAR *a, const WCHAR *b, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
        if (!a[i])
            return true;
    }
    return true;
}

bool SameIgnoringCase(const WCHAR *a, const WCHAR *b)
{
    return SameIgnoringCase(a, b, (size_t)-1);
}

bool IsPathWithin(const WCHAR *path, const WCHAR *folder)
{
    size_t length = wcslen(folder);
    while (length > 0 && folder[length - 1] == L'\\')
        --length;
    if (length == 0 || wcslen(path) < length || !SameIgnoringCase(path, folder, length))
        return false;
    return path[length] == 0 || path[length] == L'\\';
}

CInstallRecord::CInstallRecord() : m_bMadeFolder(false), m_items(NULL), m_count(0), m_capacity(0)
{
    m_folder[0] = 0;
}

CInstallRecord::~CInstallRecord()
{
    free(m_items);
}

void CInstallRecord::Clear()
{
    free(m_items);
    m_items = NULL;
    m_count = m_capacity = 0;
    m_folder[0] = 0;
    m_bMadeFolder = false;
}

void CInstallRecord::SetFolder(const WCHAR *folder, bool made)
{
    Copy(m_folder, folder);
    m_bMadeFolder = made;
}

int CInstallRecord::ProcessView()
{
    // A 32-bit process writes in the 32-bit view, on 64-bit Windows too.
    return sizeof(void *) == 8 ? 64 : 32;
}

RecordItem *CInstallRecord::Append(RecordItem::Kind kind, const WCHAR *path)
{
    if (m_count >= kMostItems)
        return NULL;
    if (m_count == m_capacity) {
        int capacity = m_capacity ? m_capacity * 2 : 32;
        RecordItem *items = (RecordItem *)realloc(m_items, capacity * sizeof(RecordItem));
        if (!items)
            return NULL;
        m_items = items;
        m_capacity = capacity;
    }
    RecordItem &item = m_items[m_count];
    memset(&item, 0, sizeof(item));
    item.kind = kind;
    if (!Copy(item.path, path))
        return NULL;
    ++m_count;
    return &item;
}

static bool SameThing(const RecordItem &a, const RecordItem &b)
{
    return a.kind == b.kind && a.root == b.root && a.view == b.view && SameIgnoringCase(a.path, b.path) &&
           SameIgnoringCase(a.name, b.name);
}

static DWORD HashFolded(DWORD hash, const WCHAR *text)
{
    for (; *text; ++text)
        hash = (hash ^ FoldCase(*text)) * 16777619u;
    return hash;
}

// Equal for two items that name the same thing (FNV-1a over kind, view and the folded names).
static DWORD ItemHash(const RecordItem &item)
{
    DWORD hash = (2166136261u ^ (DWORD)item.kind) * 16777619u;
    hash = (hash ^ (DWORD)item.view) * 16777619u;
    return HashFolded(HashFolded(hash, item.path) * 16777619u, item.name);
}

bool CInstallRecord::AddContents(RecordItem::Kind kind, const WCHAR *path, ULONGLONG size, const BYTE (&sha256)[32])
{
    RecordItem *item = Append(kind, path);
    if (!item)
        return false;
    item->size = size;
    memcpy(item->sha256, sha256, sizeof(sha256));
    return true;
}

bool CInstallRecord::AddFile(const WCHAR *relative, ULONGLONG size, const BYTE (&sha256)[32])
{
    return AddContents(RecordItem::kFile, relative, size, sha256);
}

bool CInstallRecord::AddLink(const WCHAR *path)
{
    ULONGLONG size = 0;
    BYTE sha256[32];
    return HashFileContents(path, size, sha256) && AddContents(RecordItem::kLink, path, size, sha256);
}

bool CInstallRecord::AddMadeFolder(const WCHAR *path)
{
    return Append(RecordItem::kMadeFolder, path) != NULL;
}

bool CInstallRecord::AddMadeKey(HKEY root, const WCHAR *key)
{
    RecordItem *item = Append(RecordItem::kMadeKey, key);
    if (!item)
        return false;
    item->root = root;
    item->view = ProcessView();
    return true;
}

bool CInstallRecord::AddValue(HKEY root, const WCHAR *key, const WCHAR *name, DWORD type, const WCHAR *data)
{
    RecordItem *item = Append(RecordItem::kValue, key);
    if (!item || !Copy(item->name, name) || !Copy(item->data, data)) {
        if (item)
            --m_count;
        return false;
    }
    item->root = root;
    item->view = ProcessView();
    item->type = type;
    return true;
}

bool CInstallRecord::Merge(const CInstallRecord &older)
{
    // One pass through a hash table of the items, this record's first: what it names already
    // keeps its newer contents.
    size_t buckets = 64;
    while (buckets < 2 * ((size_t)m_count + (size_t)older.m_count))
        buckets *= 2;
    int *slots = (int *)malloc(buckets * sizeof(int));
    if (!slots)
        return false;
    memset(slots, 0xff, buckets * sizeof(int));
    const size_t mask = buckets - 1;
    const int before = m_count, total = m_count + older.m_count;
    bool merged = true;
    for (int i = 0; i < total; ++i) {
        const RecordItem &item = i < before ? m_items[i] : older.m_items[i - before];
        size_t at = ItemHash(item) & mask;
        while (slots[at] >= 0 && !SameThing(m_items[slots[at]], item))
            at = (at + 1) & mask;
        if (slots[at] >= 0)
            continue;  // named already: the first, newer contents stay
        if (i < before) {
            slots[at] = i;
            continue;
        }
        RecordItem *copy = Append(item.kind, item.path);
        if (!copy) {
            merged = false;
            break;
        }
        *copy = item;
        slots[at] = m_count - 1;
    }
    free(slots);
    // All or nothing: a merge cut short leaves this record as it was.
    if (!merged)
        m_count = before;
    else
        m_bMadeFolder = m_bMadeFolder || older.m_bMadeFolder;
    return merged;
}

// ---------------------------------------------------------------- text

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

static bool IsFullDrivePath(const WCHAR *path);
static bool IsSharedParentKey(const WCHAR *key);
static bool IsSystemFolder(const WCHAR *folder);

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

// ---------------------------------------------------------------- what a record may name

static bool IsSystemFolder(const WCHAR *folder)
{
    WCHAR windows[MAX_PATH];
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    return length == 0 || length >= MAX_PATH || IsPathWithin(folder, windows);
}

// A folder as the record names it: a full path on a drive, nothing relative or doubled.
static bool IsFullDrivePath(const WCHAR *path)
{
    size_t length = wcslen(path);
    if (length < 3 || !iswalpha(path[0]) || path[1] != L':' || path[2] != L'\\')
        return false;
    return length == 3 || IsPlainRelativePath(path + 2, length - 2);
}

// `path` names an entry directly inside `folder`.
static bool IsDirectlyIn(const WCHAR *path, const WCHAR *folder)
{
    if (!folder || !folder[0] || !IsPathWithin(path, folder))
        return false;
    const WCHAR *rest = path + wcslen(folder);
    return rest[0] == L'\\' && rest[1] && !wcschr(rest + 1, L'\\');
}

// `path` names an entry directly inside the folder that is to another profile what `folder` is to
// `profile`: "<profiles>\<someone>\<the same rest>\<name>".
static bool IsDirectlyInOtherProfile(const WCHAR *path, const WCHAR *folder, const WCHAR *profile)
{
    size_t profileLength = wcslen(profile);
    const WCHAR *profileName = wcsrchr(profile, L'\\');
    if (!profileName || profileLength < 4 || !IsPathWithin(folder, profile) || !folder[profileLength])
        return false;
    size_t rootLength = (size_t)(profileName - profile);
    if (!SameIgnoringCase(path, profile, rootLength) || path[rootLength] != L'\\')
        return false;
    const WCHAR *user = path + rootLength + 1;
    const WCHAR *afterUser = wcschr(user, L'\\');
    if (!afterUser || afterUser == user)
        return false;
    WCHAR same[MAX_PATH];
    if (!Format(same, L"%.*s%s", (int)(afterUser - path), path, folder + profileLength))
        return false;
    return IsDirectlyIn(path, same);
}

static bool EndsWith(const WCHAR *text, const WCHAR *end)
{
    size_t length = wcslen(text), endLength = wcslen(end);
    return length >= endLength && SameIgnoringCase(text + length - endLength, end);
}

// A key on the way to one of the browser's own, such as SOFTWARE\Clients\StartMenuInternet.
static bool IsSharedParentKey(const WCHAR *key)
{
    const WCHAR *const owned[] = {kUninstallKey, kAppPathKey, kClientKey, kUrlClassKey};
    for (const WCHAR *own : owned) {
        if (IsPathWithin(own, key) && !SameIgnoringCase(own, key))
            return true;
    }
    return false;
}

// The registry keys the setup writes, each with everything below it.
static bool IsSetupKey(HKEY root, const WCHAR *key, bool madeKey, const WCHAR *valueName)
{
    if (root != HKEY_LOCAL_MACHINE)
        return false;
    if (IsOwnRegistryKey(key))
        return true;
    // A list shared with other programs: only the browser's own value in it.
    return SameIgnoringCase(key, L"SOFTWARE\\RegisteredApplications") &&
           (madeKey || SameIgnoringCase(valueName, L"Velmarin.exe"));
}

bool CInstallRecord::Accepts(const RecordItem &item, const RecordPlaces &places) const
{
    WCHAR linkBar[MAX_PATH] = L"";
    if (places.favorites && places.favorites[0])
        Format(linkBar, L"%s\\LinkBar", places.favorites);
    switch (item.kind) {
    case RecordItem::kFile:
        return IsPlainRelativePath(item.path, wcslen(item.path));
    case RecordItem::kLink: {
        if (!IsFullDrivePath(item.path) || !(EndsWith(item.path, L".lnk") || EndsWith(item.path, L".url")))
            return false;
        const WCHAR *folders[] = {places.programGroup, places.commonStartMenu, places.commonDesktop,
                                  places.quickLaunch, linkBar};
        for (const WCHAR *folder : folders) {
            if (IsDirectlyIn(item.path, folder))
                return true;
        }
        const WCHAR *perUser[] = {places.quickLaunch, linkBar};
        for (const WCHAR *folder : perUser) {
            if (folder && folder[0] && IsDirectlyInOtherProfile(item.path, folder, places.profile))
                return true;
        }
        return false;
    }
    case RecordItem::kMadeFolder: {
        if ((places.programGroup && SameIgnoringCase(item.path, places.programGroup)) ||
            (linkBar[0] && SameIgnoringCase(item.path, linkBar)))
            return true;
        // Another profile's LinkBar: the entry of its favourites folder named so.
        WCHAR probe[MAX_PATH];
        return linkBar[0] && Format(probe, L"%s\\x.url", item.path) && EndsWith(item.path, L"\\LinkBar") &&
               IsDirectlyInOtherProfile(probe, linkBar, places.profile);
    }
    case RecordItem::kMadeKey:
    case RecordItem::kValue:
        return IsSetupKey(item.root, item.path, item.kind == RecordItem::kMadeKey, item.name);
    }
    return false;
}

// ---------------------------------------------------------------- the file

static bool RecordPath(WCHAR (&path)[MAX_PATH], const WCHAR *folder, const WCHAR *suffix)
{
    return Format(path, L"%s\\%s%s", folder, kRecordFileName, suffix);
}

bool CInstallRecord::Save(const WCHAR *folder) const
{
    WCHAR path[MAX_PATH], temporary[MAX_PATH];
    DWORD length = 0;
    char *text = Serialize(length);
    if (!text || !RecordPath(path, folder, L"") || !RecordPath(temporary, folder, L".new")) {
        free(text);
        return false;
    }
    HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    bool saved = file != INVALID_HANDLE_VALUE && WriteFile(file, text, length, &written, NULL) && written == length &&
                 FlushFileBuffers(file);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    free(text);
    saved = saved && MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!saved)
        DeleteFileW(temporary);
    return saved;
}

RecordLoadResult CInstallRecord::Load(const WCHAR *folder, const RecordPlaces &places)
{
    Clear();
    WCHAR path[MAX_PATH];
    if (!RecordPath(path, folder, L""))
        return kRecordMissing;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND ? kRecordMissing
                                                                                               : kRecordDamaged;
    LARGE_INTEGER size;
    char *text = NULL;
    DWORD read = 0;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < 64 * 1024 * 1024 &&
              (text = (char *)malloc((size_t)size.QuadPart)) != NULL &&
              ReadFile(file, text, (DWORD)size.QuadPart, &read, NULL) && read == (DWORD)size.QuadPart;
    CloseHandle(file);
    RecordLoadResult result = ok ? Parse(text, read, folder, places) : kRecordDamaged;
    free(text);
    return result;
}
