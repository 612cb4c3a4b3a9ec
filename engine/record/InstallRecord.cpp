#include "engine/record/InstallRecord.h"
#include "base/Checksum.h"
#include "base/FolderSecurity.h"
#include "base/Format.h"
#include "base/PathNames.h"
#include "base/FileSystem.h"
#include "engine/payload/PayloadManifest.h"
#include "engine/Product.h"
#include <aclapi.h>
#include <shlwapi.h>
#include <stdlib.h>
#include <string.h>

const WCHAR kRecordFileName[] = L"VelmarinSetup.record";
// Far more than any file set: a record beyond it is not one of ours.
static const int kMostItems = 100000;

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

// ---------------------------------------------------------------- the file

static bool RecordPath(WCHAR (&path)[MAX_PATH], const WCHAR *folder, const WCHAR *suffix)
{
    return Format(path, L"%s\\%s%s", folder, kRecordFileName, suffix);
}

// Windows replaces no file that anyone holds open, and any user may open the record for its
// attributes alone, which its access list cannot refuse. The record is then written over through
// a handle of its own, which such a holder does not hinder, and given its protection again
// (protecting an existing folder makes everything in it inherit). `touched` tells whether the
// old text may be gone.
static bool WriteOver(const WCHAR *path, const char *text, DWORD length, bool &touched)
{
    touched = false;
    HANDLE file = CreateFileW(path, GENERIC_WRITE | WRITE_DAC, 0, NULL, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_WRITE_THROUGH, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD written = 0;
    bool plain = GetFileInformationByHandle(file, &info) && info.nNumberOfLinks == 1 &&
                 !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    touched = plain;
    bool ok = plain && WriteFile(file, text, length, &written, NULL) && written == length && SetEndOfFile(file) &&
              FlushFileBuffers(file);
    PSECURITY_DESCRIPTOR protection = ok ? CreateOnlyAdministratorsFileDescriptor() : NULL;
    PACL dacl = NULL;
    BOOL present = FALSE, defaulted = FALSE;
    if (protection && GetSecurityDescriptorDacl(protection, &present, &dacl, &defaulted) && present)
        SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, NULL,
                        NULL, dacl, NULL);
    LocalFree(protection);
    CloseHandle(file);
    return ok;
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
    // Readable by users, the record could be held open by any of them, so that an update cannot
    // replace it: only the elevated setup and uninstaller read it.
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), CreateOnlyAdministratorsFileDescriptor(), FALSE};
    HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, attributes.lpSecurityDescriptor ? &attributes : NULL,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD made = file != INVALID_HANDLE_VALUE ? ERROR_SUCCESS : GetLastError();
    LocalFree(attributes.lpSecurityDescriptor);
    DWORD written = 0;
    bool copied = file != INVALID_HANDLE_VALUE && WriteFile(file, text, length, &written, NULL) && written == length &&
                  FlushFileBuffers(file);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    bool saved = copied && MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    // Held open, the record cannot be replaced; nor can the copy be made where someone holds an
    // earlier one whose deletion waits for him.
    bool held = !saved && (copied ? GetLastError() == ERROR_ACCESS_DENIED : made == ERROR_ACCESS_DENIED);
    bool touched = false;
    if (held)
        saved = WriteOver(path, text, length, touched);
    free(text);
    // A whole copy stays where the record itself may now be cut: Load takes it then.
    if (saved || !touched || !copied)
        DeleteFileW(temporary);
    return saved;
}

bool CInstallRecord::Discard(const WCHAR *folder)
{
    const WCHAR *suffixes[] = {L"", L".new"};
    for (const WCHAR *suffix : suffixes) {
        WCHAR path[MAX_PATH];
        if (!RecordPath(path, folder, suffix))
            return false;
        HANDLE file = CreateFileW(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_DELETE_ON_CLOSE, NULL);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND)
            return false;
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    return true;
}

// Reads "<folder>\VelmarinSetup.record<suffix>".
RecordLoadResult CInstallRecord::LoadFile(const WCHAR *folder, const WCHAR *suffix, const RecordPlaces &places)
{
    Clear();
    WCHAR path[MAX_PATH];
    if (!RecordPath(path, folder, suffix))
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

RecordLoadResult CInstallRecord::Load(const WCHAR *folder, const RecordPlaces &places)
{
    RecordLoadResult result = LoadFile(folder, L"", places);
    // A record cut while it was written over: the whole copy written just before stands for it.
    if (result == kRecordDamaged && LoadFile(folder, L".new", places) == kRecordValid)
        return kRecordValid;
    return result;
}
