#include "engine/payload/PayloadManifest.h"
#include "base/Format.h"
#include "resource.h"
#include <wincrypt.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

const CPayloadManifest &CPayloadManifest::Instance()
{
    // Built on first use and never freed, as the other process-wide records.
    static CPayloadManifest *instance = NULL;
    if (!instance) {
        instance = new CPayloadManifest();
        HMODULE module = GetModuleHandleW(NULL);
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDB_PAYLOAD_MANIFEST), L"BIN");
        HGLOBAL loaded = found ? LoadResource(module, found) : NULL;
        const char *text = loaded ? (const char *)LockResource(loaded) : NULL;
        if (text)
            instance->Parse(text, SizeofResource(module, found));
    }
    return *instance;
}

CPayloadManifest::CPayloadManifest() : m_total(0), m_longest(0), m_files(NULL), m_count(0)
{
    m_version[0] = 0;
}

CPayloadManifest::~CPayloadManifest()
{
    Clear();
}

void CPayloadManifest::Clear()
{
    if (m_files)
        HeapFree(GetProcessHeap(), 0, m_files);
    m_files = NULL;
    m_count = 0;
    m_total = 0;
    m_longest = 0;
    m_version[0] = 0;
}

// The next line of the text, without its line feed; false at the end.
static bool NextLine(const char *&at, const char *end, const char *&line, size_t &length)
{
    if (at >= end)
        return false;
    line = at;
    const char *feed = (const char *)memchr(at, '\n', (size_t)(end - at));
    length = (size_t)((feed ? feed : end) - at);
    at = feed ? feed + 1 : end;
    return true;
}

// "<word> <decimal>" with the word given; the number in `value`.
static bool ReadNumberLine(const char *line, size_t length, const char *word, ULONGLONG &value)
{
    size_t wordLength = strlen(word);
    if (length <= wordLength + 1 || memcmp(line, word, wordLength) != 0 || line[wordLength] != ' ')
        return false;
    value = 0;
    for (size_t i = wordLength + 1; i < length; ++i) {
        if (line[i] < '0' || line[i] > '9' || value > 0xFFFFFFFFFFFFull / 10)
            return false;
        value = value * 10 + (ULONGLONG)(line[i] - '0');
    }
    return true;
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "<sha256> <size> <relative>".
static bool ReadFileLine(const char *line, size_t length, ManifestFile &file)
{
    if (length < 64 + 3 || line[64] != ' ')
        return false;
    for (int i = 0; i < 32; ++i) {
        int high = HexDigit(line[2 * i]), low = HexDigit(line[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        file.sha256[i] = (BYTE)(high * 16 + low);
    }
    const char *size = line + 65, *end = line + length;
    const char *space = (const char *)memchr(size, ' ', (size_t)(end - size));
    if (!space || space == size)
        return false;
    file.size = 0;
    for (const char *c = size; c < space; ++c) {
        if (*c < '0' || *c > '9' || file.size > 0xFFFFFFFFFFFFull / 10)
            return false;
        file.size = file.size * 10 + (ULONGLONG)(*c - '0');
    }
    int characters = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, space + 1, (int)(end - space - 1),
                                         file.relative, MAX_PATH - 1);
    if (characters <= 1)
        return false;
    file.relative[characters] = 0;
    // Relative, below the file set: never a drive, a parent or an empty name.
    return file.relative[0] == L'\\' && !wcschr(file.relative, L':') && !wcsstr(file.relative, L"\\..\\") &&
           !wcsstr(file.relative, L"\\\\") && file.relative[characters - 1] != L'\\' &&
           wcscmp(file.relative + characters - (characters >= 3 ? 3 : 0), L"\\..") != 0;
}

bool CPayloadManifest::Parse(const char *text, size_t length)
{
    Clear();
    const char *at = text, *end = text + length, *line;
    size_t lineLength;
    ULONGLONG count = 0, total = 0, sum = 0;
    static const char kHeader[] = "velmarin-payload-manifest 1";
    bool ok = NextLine(at, end, line, lineLength) && lineLength == strlen(kHeader) && memcmp(line, kHeader, lineLength) == 0 &&
              NextLine(at, end, line, lineLength) && lineLength > 8 && lineLength < 8 + 31 && memcmp(line, "version ", 8) == 0 &&
              MultiByteToWideChar(CP_UTF8, 0, line + 8, (int)lineLength - 8, m_version, 31) > 0;
    if (ok)
        m_version[lineLength - 8] = 0;
    ok = ok && NextLine(at, end, line, lineLength) && ReadNumberLine(line, lineLength, "files", count) && count > 0 &&
         count < 100000 && NextLine(at, end, line, lineLength) && ReadNumberLine(line, lineLength, "total", total);
    ManifestFile *files = ok ? (ManifestFile *)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)count * sizeof(ManifestFile)) : NULL;
    ok = files != NULL;
    size_t longest = 0;
    for (ULONGLONG i = 0; ok && i < count; ++i) {
        ok = NextLine(at, end, line, lineLength) && ReadFileLine(line, lineLength, files[i]);
        if (ok) {
            sum += files[i].size;
            size_t characters = wcslen(files[i].relative);
            longest = characters > longest ? characters : longest;
        }
    }
    // The whole text is the manifest: nothing missing, nothing added, the sizes adding up.
    ok = ok && sum == total && !NextLine(at, end, line, lineLength);
    if (!ok) {
        if (files)
            HeapFree(GetProcessHeap(), 0, files);
        m_version[0] = 0;
        return false;
    }
    m_files = files;
    m_count = (int)count;
    m_total = total;
    m_longest = longest;
    return true;
}

// SHA-256 of an open file from its current position, through the system's own crypto provider.
static bool HashFile(HCRYPTPROV provider, HANDLE file, BYTE *buffer, DWORD bufferSize, BYTE (&digest)[32])
{
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash))
        return false;
    DWORD read = 0;
    bool ok = true;
    while (ok && (ok = ReadFile(file, buffer, bufferSize, &read, NULL) != FALSE) && read > 0)
        ok = CryptHashData(hash, buffer, read, 0) != FALSE;
    DWORD size = sizeof(digest);
    ok = ok && CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == sizeof(digest);
    CryptDestroyHash(hash);
    return ok;
}

HCRYPTPROV SharedHashProvider()
{
    static PVOID volatile shared = NULL;
    HCRYPTPROV provider = (HCRYPTPROV)InterlockedCompareExchangePointer(&shared, NULL, NULL);
    if (provider)
        return provider;
    if (!CryptAcquireContextW(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return 0;
    // Two threads that both acquired one keep the first.
    PVOID first = InterlockedCompareExchangePointer(&shared, (PVOID)provider, NULL);
    if (first) {
        CryptReleaseContext(provider, 0);
        provider = (HCRYPTPROV)first;
    }
    return provider;
}

bool HashFileContents(const WCHAR *path, ULONGLONG &size, BYTE (&sha256)[32])
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = HashOpenFile(file, size, sha256);
    CloseHandle(file);
    return ok;
}

bool HashOpenFile(HANDLE file, ULONGLONG &size, BYTE (&sha256)[32])
{
    BY_HANDLE_FILE_INFORMATION info;
    HCRYPTPROV provider = 0;
    const DWORD bufferSize = 64 * 1024;
    BYTE *buffer = (BYTE *)malloc(bufferSize);
    // A link or junction is never taken for the file it points to.
    bool ok = buffer && GetFileInformationByHandle(file, &info) &&
              !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
              (provider = SharedHashProvider()) != 0 && HashFile(provider, file, buffer, bufferSize, sha256);
    size = ok ? ((ULONGLONG)info.nFileSizeHigh << 32) | info.nFileSizeLow : 0;
    free(buffer);
    return ok;
}

namespace {
// The check's files, taken one at a time by each thread that works on it, and its verdict.
struct CheckWork {
    const WCHAR *folder;
    const CPayloadManifest *manifest;
    volatile LONG next;
    volatile LONG failed;
};
}

static bool FileMatches(HCRYPTPROV provider, const WCHAR *folder, const ManifestFile &expected, BYTE *buffer, DWORD size)
{
    WCHAR path[MAX_PATH];
    HANDLE file = Format(path, L"%s%s", folder, expected.relative)
                      ? CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, NULL)
                      : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER actual;
    BYTE digest[32];
    bool ok = GetFileSizeEx(file, &actual) && (ULONGLONG)actual.QuadPart == expected.size &&
              HashFile(provider, file, buffer, size, digest) && memcmp(digest, expected.sha256, sizeof(digest)) == 0;
    CloseHandle(file);
    return ok;
}

static DWORD WINAPI CheckFiles(LPVOID param)
{
    CheckWork &work = *(CheckWork *)param;
    const DWORD kBufferSize = 256 * 1024;
    BYTE *buffer = (BYTE *)HeapAlloc(GetProcessHeap(), 0, kBufferSize);
    HCRYPTPROV provider = SharedHashProvider();
    if (!buffer || !provider) {
        InterlockedExchange(&work.failed, 1);
    } else {
        for (LONG i = InterlockedIncrement(&work.next) - 1; i < work.manifest->FileCount() && !work.failed;
             i = InterlockedIncrement(&work.next) - 1) {
            if (!FileMatches(provider, work.folder, work.manifest->File(i), buffer, kBufferSize))
                InterlockedExchange(&work.failed, 1);
        }
    }
    if (buffer)
        HeapFree(GetProcessHeap(), 0, buffer);
    return 0;
}

// Checks the files from `first` on; a second thread shares them, so that the check is done
// sooner on machines with two cores or more.
static bool CheckRemainingFiles(const WCHAR *folder, const CPayloadManifest &manifest, int first)
{
    CheckWork work = {folder, &manifest, first, 0};
    HANDLE helper = CreateThread(NULL, 0, CheckFiles, &work, 0, NULL);
    CheckFiles(&work);
    if (helper) {
        WaitForSingleObject(helper, INFINITE);
        CloseHandle(helper);
    }
    return work.failed == 0;
}

bool ExtractionMatchesManifest(const WCHAR *folder, const CPayloadManifest &manifest)
{
    return folder && folder[0] && manifest.IsValid() && CheckRemainingFiles(folder, manifest, 0);
}

static const DWORD kCheckBufferSize = 256 * 1024;

CExtractionCheck::CExtractionCheck(const WCHAR *folder, const CPayloadManifest &manifest)
    : m_folder(folder), m_manifest(manifest), m_provider(0), m_buffer(NULL), m_next(0), m_bFailed(false),
      m_hGrowing(INVALID_HANDLE_VALUE), m_hash(0), m_ullHashed(0)
{
    m_buffer = (BYTE *)HeapAlloc(GetProcessHeap(), 0, kCheckBufferSize);
    if (m_buffer)
        m_provider = SharedHashProvider();
}

CExtractionCheck::~CExtractionCheck()
{
    CloseGrowingFile();
    if (m_buffer)
        HeapFree(GetProcessHeap(), 0, m_buffer);
}

bool CExtractionCheck::OpenGrowingFile()
{
    if (m_hGrowing != INVALID_HANDLE_VALUE)
        return true;
    WCHAR path[MAX_PATH];
    if (!Format(path, L"%s%s", m_folder, m_manifest.File(m_next).relative))
        return false;
    // Writing stays shared: the installer still has the file open.
    m_hGrowing = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (m_hGrowing == INVALID_HANDLE_VALUE)
        return false;
    HCRYPTHASH hash = 0;
    m_bFailed = !CryptCreateHash(m_provider, CALG_SHA_256, 0, 0, &hash);
    m_hash = hash;
    m_ullHashed = 0;
    return !m_bFailed;
}

bool CExtractionCheck::HashWrittenPart()
{
    DWORD read = 0;
    while (ReadFile(m_hGrowing, m_buffer, kCheckBufferSize, &read, NULL)) {
        if (read == 0)
            return true;
        m_ullHashed += read;
        if (m_ullHashed > m_manifest.File(m_next).size || !CryptHashData(m_hash, m_buffer, read, 0))
            return false;
    }
    return false;
}

// Once the file is whole. Where a file grows, Windows may show its new length before its new
// bytes: a digest that differs is taken again over the whole file before it counts.
bool CExtractionCheck::CheckGrowingFile()
{
    const ManifestFile &expected = m_manifest.File(m_next);
    BYTE digest[32];
    DWORD size = sizeof(digest);
    LARGE_INTEGER actual;
    bool ok = HashWrittenPart() && GetFileSizeEx(m_hGrowing, &actual) && (ULONGLONG)actual.QuadPart == expected.size &&
              m_ullHashed == expected.size && CryptGetHashParam(m_hash, HP_HASHVAL, digest, &size, 0) &&
              size == sizeof(digest);
    if (ok && memcmp(digest, expected.sha256, sizeof(digest)) != 0) {
        LARGE_INTEGER start = {};
        ok = SetFilePointerEx(m_hGrowing, start, NULL, FILE_BEGIN) &&
             HashFile(m_provider, m_hGrowing, m_buffer, kCheckBufferSize, digest) &&
             memcmp(digest, expected.sha256, sizeof(digest)) == 0;
    }
    CloseGrowingFile();
    return ok;
}

void CExtractionCheck::CloseGrowingFile()
{
    if (m_hash)
        CryptDestroyHash(m_hash);
    m_hash = 0;
    if (m_hGrowing != INVALID_HANDLE_VALUE)
        CloseHandle(m_hGrowing);
    m_hGrowing = INVALID_HANDLE_VALUE;
}

bool CExtractionCheck::CheckWrittenFiles()
{
    bool progressed = false;
    while (m_provider && !m_bFailed && m_next < m_manifest.FileCount()) {
        // Decided before the last bytes are read: the installer closed the file before it made
        // the next one.
        WCHAR following[MAX_PATH];
        bool whole = m_next + 1 < m_manifest.FileCount() &&
                     Format(following, L"%s%s", m_folder, m_manifest.File(m_next + 1).relative) &&
                     GetFileAttributesW(following) != INVALID_FILE_ATTRIBUTES;
        if (!OpenGrowingFile())
            break;
        // Caught up with the installer: the caller waits a while before it looks again.
        if (!whole) {
            m_bFailed = !HashWrittenPart();
            break;
        }
        m_bFailed = !CheckGrowingFile();
        ++m_next;
        progressed = true;
    }
    return progressed;
}

bool CExtractionCheck::Finish()
{
    if (m_hGrowing != INVALID_HANDLE_VALUE && !m_bFailed) {
        m_bFailed = !CheckGrowingFile();
        ++m_next;
    }
    CloseGrowingFile();
    return m_folder && m_folder[0] && m_manifest.IsValid() && !m_bFailed &&
           CheckRemainingFiles(m_folder, m_manifest, m_next);
}
