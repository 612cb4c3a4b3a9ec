// What a record may name: the install folder, the setup's shortcut places and its own keys.
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

bool IsSystemFolder(const WCHAR *folder)
{
    WCHAR windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return length == 0 || length >= MAX_PATH || IsPathWithin(folder, windows);
}

// A folder as the record names it: a full path on a drive, nothing relative or doubled.
bool IsFullDrivePath(const WCHAR *path)
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

// `path` names an entry directly inside the folder that is to `otherProfile` what `folder` is to
// `profile`: "<otherProfile>\<the same rest>\<name>".
static bool IsDirectlyInSameFolderOf(const WCHAR *path, const WCHAR *folder, const WCHAR *profile,
                                     const WCHAR *otherProfile)
{
    size_t profileLength = wcslen(profile);
    WCHAR same[MAX_PATH];
    return otherProfile && otherProfile[0] && profileLength >= 4 && IsPathWithin(folder, profile) &&
           folder[profileLength] && Format(same, L"%s%s", otherProfile, folder + profileLength) &&
           IsDirectlyIn(path, same);
}

// `path` names an entry directly inside the folder that is to another profile what `folder` is to
// this user's: "<profiles>\<someone>\<the same rest>\<name>", or the same in the profile of
// SYSTEM, which deployment tools install as and which lies in the Windows folder.
static bool IsDirectlyInAnotherProfile(const WCHAR *path, const WCHAR *folder, const RecordPlaces &places)
{
    const WCHAR *profile = places.profile;
    if (IsDirectlyInSameFolderOf(path, folder, profile, places.systemProfile))
        return true;
    const WCHAR *profileName = wcsrchr(profile, L'\\');
    if (!profileName)
        return false;
    size_t rootLength = (size_t)(profileName - profile);
    if (!SameIgnoringCase(path, profile, rootLength) || path[rootLength] != L'\\')
        return false;
    const WCHAR *user = path + rootLength + 1;
    const WCHAR *afterUser = wcschr(user, L'\\');
    WCHAR other[MAX_PATH];
    return afterUser && afterUser != user && Format(other, L"%.*s", (int)(afterUser - path), path) &&
           IsDirectlyInSameFolderOf(path, folder, profile, other);
}

// The account's own folders of an installation where a profile has them by default: whatever
// this account's own folders are now (none, or somewhere else: the account may change them), the
// links an installation made there, in any profile, stay the setup's to remove.
static const WCHAR *const kDefaultPerUserFolders[] = {
    L"\\Favorites\\LinkBar",
    L"\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch",
    L"\\Application Data\\Microsoft\\Internet Explorer\\Quick Launch",
};

static bool IsDirectlyInADefaultPerUserFolder(const WCHAR *path, const RecordPlaces &places)
{
    WCHAR folder[MAX_PATH];
    for (const WCHAR *relative : kDefaultPerUserFolders) {
        if (places.profile[0] && Format(folder, L"%s%s", places.profile, relative) &&
            (IsDirectlyIn(path, folder) || IsDirectlyInAnotherProfile(path, folder, places)))
            return true;
    }
    return false;
}

static bool EndsWith(const WCHAR *text, const WCHAR *end)
{
    size_t length = wcslen(text), endLength = wcslen(end);
    return length >= endLength && SameIgnoringCase(text + length - endLength, end);
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
        // A user's shortcut folders may be redirected to a share ("\\\\server\\home\\Favorites"):
        // a shortcut there counts where this machine names the folder so.
        size_t length = wcslen(item.path);
        bool share = length > 2 && item.path[0] == L'\\' && item.path[1] == L'\\' &&
                     IsPlainRelativePath(item.path + 1, length - 1);
        if (!(IsFullDrivePath(item.path) || share) || !(EndsWith(item.path, L".lnk") || EndsWith(item.path, L".url")))
            return false;
        const WCHAR *folders[] = {places.programGroup, places.commonStartMenu, places.commonDesktop,
                                  places.quickLaunch, linkBar};
        for (const WCHAR *folder : folders) {
            if (IsDirectlyIn(item.path, folder))
                return true;
        }
        const WCHAR *perUser[] = {places.quickLaunch, linkBar};
        for (const WCHAR *folder : perUser) {
            if (folder && folder[0] && IsDirectlyInAnotherProfile(item.path, folder, places))
                return true;
        }
        return IsDirectlyInADefaultPerUserFolder(item.path, places);
    }
    case RecordItem::kMadeFolder: {
        if ((places.programGroup && SameIgnoringCase(item.path, places.programGroup)) ||
            (linkBar[0] && SameIgnoringCase(item.path, linkBar)))
            return true;
        // Another profile's LinkBar: the entry of its favourites folder named so.
        WCHAR probe[MAX_PATH];
        return Format(probe, L"%s\\x.url", item.path) && EndsWith(item.path, L"\\LinkBar") &&
               ((linkBar[0] && IsDirectlyInAnotherProfile(probe, linkBar, places)) ||
                IsDirectlyInADefaultPerUserFolder(probe, places));
    }
    case RecordItem::kMadeKey:
    case RecordItem::kValue:
        return IsSetupKey(item.root, item.path, item.kind == RecordItem::kMadeKey, item.name);
    }
    return false;
}
