// What the payload installer unpacks, as the build described it: every file with its size and
// SHA-256, the browser's version and the total size. The setup carries it as resource BIN 236,
// UTF-8 text, one item a line:
//     velmarin-payload-manifest 1
//     version <a.b.c.d>               the version resource of the packed Velmarin.exe
//     files <count>
//     total <bytes>                   the sum of the sizes
//     <sha256, 64 hex digits> <size> <path relative to the file set, "\" first>   once per file
// The longest path follows from the files.
#pragma once
#include <windows.h>

struct ManifestFile {
    WCHAR relative[MAX_PATH];
    ULONGLONG size;
    BYTE sha256[32];
};

class CPayloadManifest {
public:
    // The setup's own manifest, read from its resources on first use (start-up does so before
    // the worker exists).
    static const CPayloadManifest &Instance();

    CPayloadManifest();
    ~CPayloadManifest();
    // Reads a manifest; false, and nothing read, for anything that is not one.
    bool Parse(const char *text, size_t length);

    bool IsValid() const { return m_count > 0; }
    const WCHAR *Version() const { return m_version; }
    ULONGLONG TotalSize() const { return m_total; }
    // Characters of the longest relative path, its backslash included.
    size_t LongestPath() const { return m_longest; }
    int FileCount() const { return m_count; }
    const ManifestFile &File(int index) const { return m_files[index]; }

private:
    void Clear();
    WCHAR m_version[32];
    ULONGLONG m_total;
    size_t m_longest;
    ManifestFile *m_files;
    int m_count;

    CPayloadManifest(const CPayloadManifest &);
    CPayloadManifest &operator=(const CPayloadManifest &);
};

// Size and SHA-256 of a plain file; false for a link, a junction or anything unreadable.
bool HashFileContents(const WCHAR *path, ULONGLONG &size, BYTE (&sha256)[32]);
// The same for a file opened for reading (at its start), checked through that handle.
bool HashOpenFile(HANDLE file, ULONGLONG &size, BYTE (&sha256)[32]);
// The crypto provider every hash of the process is made with, acquired once and kept: each
// acquisition loads and starts the provider's library, which its release lets go again. One
// provider serves every thread, each with hashes of its own. Zero when there is none.
ULONG_PTR SharedHashProvider();

// Checks an extraction folder against a manifest: every file there, its size and its SHA-256
// equal. Files the manifest does not name are not looked at.
bool ExtractionMatchesManifest(const WCHAR *folder, const CPayloadManifest &manifest);

// The same check made while the payload installer writes the folder, so that most of it costs
// no time: the installer writes the files one by one in the manifest's order, so a file is whole
// once the next one exists, and the file being written is hashed as far as it is written, so that
// the installer's end waits for little more than its last bytes. For a folder only administrators
// can change: there nobody but the installer writes a file.
class CExtractionCheck {
public:
    CExtractionCheck(const WCHAR *folder, const CPayloadManifest &manifest);
    ~CExtractionCheck();
    // Checks the files that are whole by now, and hashes the one being written as far as it is;
    // false when no file was whole.
    bool CheckWrittenFiles();
    // Once the installer has ended: checks the rest. The verdict on the whole folder.
    bool Finish();

private:
    bool OpenGrowingFile();
    bool HashWrittenPart();
    bool CheckGrowingFile();
    void CloseGrowingFile();
    const WCHAR *m_folder;
    const CPayloadManifest &m_manifest;
    ULONG_PTR m_provider;  // the crypto provider
    BYTE *m_buffer;
    int m_next;  // the first file not checked yet
    bool m_bFailed;
    HANDLE m_hGrowing;     // file m_next, open while it is written
    ULONG_PTR m_hash;      // its hash so far
    ULONGLONG m_ullHashed;  // the bytes in it

    CExtractionCheck(const CExtractionCheck &);
    CExtractionCheck &operator=(const CExtractionCheck &);
};
