// What the setup put on the machine, kept in the install folder as "VelmarinSetup.record" so
// that the uninstaller removes exactly that and nothing else. UTF-8 text, one item a line, the
// fields separated by tabs:
//     velmarin-install-record 1
//     folder <1 when the setup made it, else 0> <install folder>
//     file <sha256> <size> <path relative to the install folder, "\" first>
//     link <sha256> <size> <full path of a shortcut or Internet shortcut>
//     dir <full path of a folder the setup made outside the install folder>
//     key HKLM <32|64> <key the setup made>
//     value HKLM <32|64> <key> <name> <sz|dword> <data>
// (Records of earlier setups may name HKCR, read as HKLM\SOFTWARE\Classes.)
//     end <CRC-32 of every byte before this line, 8 hex digits>
// A record is written whole to a temporary file that then replaces the old one, so a reader
// finds either record, never a mix; a record without its end line is damaged.
#pragma once
#include <windows.h>
#include "base/PathNames.h"

extern const WCHAR kRecordFileName[];  // "VelmarinSetup.record"

struct RecordItem {
    enum Kind { kFile, kLink, kMadeFolder, kMadeKey, kValue };
    Kind kind;
    WCHAR path[MAX_PATH];  // relative file, full path, or registry key
    HKEY root;             // keys and values
    int view;              // 32 or 64: the registry view the setup wrote in
    WCHAR name[64];        // values
    DWORD type;            // REG_SZ or REG_DWORD
    WCHAR data[MAX_PATH];  // values
    ULONGLONG size;        // files and links
    BYTE sha256[32];
};

// The places outside the install folder the setup writes to, as this machine names them for
// the user at hand. The quick-launch and favourites folders are the installing user's: the same
// folders of another profile beside `profile`, and of SYSTEM's (an installation made by a
// deployment tool), count too, so that another administrator can uninstall. A record naming
// anything else is refused.
struct RecordPlaces {
    const WCHAR *programGroup;
    const WCHAR *commonStartMenu;
    const WCHAR *commonDesktop;
    const WCHAR *quickLaunch;
    const WCHAR *favorites;
    WCHAR profile[MAX_PATH];        // this user's
    WCHAR systemProfile[MAX_PATH];  // SYSTEM's, or empty
};

enum RecordLoadResult { kRecordValid, kRecordMissing, kRecordDamaged, kRecordRefused };

class CInstallRecord {
public:
    CInstallRecord();
    ~CInstallRecord();

    void SetFolder(const WCHAR *folder, bool made);
    const WCHAR *Folder() const { return m_folder; }
    bool MadeFolder() const { return m_bMadeFolder; }

    bool AddFile(const WCHAR *relative, ULONGLONG size, const BYTE (&sha256)[32]);
    // A shortcut as it is now on the disk; false when it cannot be read.
    bool AddLink(const WCHAR *path);
    bool AddMadeFolder(const WCHAR *path);
    bool AddMadeKey(HKEY root, const WCHAR *key);
    bool AddValue(HKEY root, const WCHAR *key, const WCHAR *name, DWORD type, const WCHAR *data);
    // Adds what `older` holds and this record does not: an update keeps the traces of the
    // installations before it. All or nothing: false leaves this record as it was.
    bool Merge(const CInstallRecord &older);

    int Count() const { return m_count; }
    const RecordItem &Item(int index) const { return m_items[index]; }

    // The text of the record, end line included. The caller frees it with free().
    char *Serialize(DWORD &length) const;
    // Reads a record and checks every item against the places it may name: the install folder
    // must be `folder`, files must lie below it, the rest in `places` or the setup's registry
    // keys. Nothing is kept unless everything passes.
    RecordLoadResult Parse(const char *text, size_t length, const WCHAR *folder, const RecordPlaces &places);

    // "<folder>\VelmarinSetup.record", written whole or not at all; where it is held open and
    // must be written over, a whole copy beside it stands for it until it is whole again.
    bool Save(const WCHAR *folder) const;
    RecordLoadResult Load(const WCHAR *folder, const RecordPlaces &places);
    // Deletes the record of `folder` and any copy of it an interrupted save left, through handles
    // that follow no link; true unless one stays readable (held open by someone who shares no
    // deletion). A deletion may wait for holders who share it.
    static bool Discard(const WCHAR *folder);

    // The registry view of this process's writes: 32 for a 32-bit process, also on 64-bit Windows.
    static int ProcessView();

private:
    RecordLoadResult LoadFile(const WCHAR *folder, const WCHAR *suffix, const RecordPlaces &places);
    RecordItem *Append(RecordItem::Kind kind, const WCHAR *path);
    bool AddContents(RecordItem::Kind kind, const WCHAR *path, ULONGLONG size, const BYTE (&sha256)[32]);
    bool Accepts(const RecordItem &item, const RecordPlaces &places) const;
    void Clear();

    WCHAR m_folder[MAX_PATH];
    bool m_bMadeFolder;
    RecordItem *m_items;
    int m_count;
    int m_capacity;

    CInstallRecord(const CInstallRecord &);
    CInstallRecord &operator=(const CInstallRecord &);
};
