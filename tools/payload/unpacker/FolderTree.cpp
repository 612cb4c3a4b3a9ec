#include "tools/payload/unpacker/FolderTree.h"
#include <winternl.h>
#include <string.h>
#include <wchar.h>

namespace {

typedef NTSTATUS(NTAPI *NtCreateFileFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS(NTAPI *NtQueryDirectoryFileFn)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
typedef BOOLEAN(NTAPI *DosPathToNtPathFn)(PCWSTR, PUNICODE_STRING, PCWSTR *, PVOID);
typedef VOID(NTAPI *FreeUnicodeStringFn)(PUNICODE_STRING);

struct NativeCalls {
    NtCreateFileFn create;
    NtQueryDirectoryFileFn list;
    DosPathToNtPathFn toNtPath;
    FreeUnicodeStringFn freeString;
};

const NativeCalls &Native()
{
    static NativeCalls calls;
    static bool loaded = false;
    if (!loaded) {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        calls.create = (NtCreateFileFn)(void *)GetProcAddress(ntdll, "NtCreateFile");
        calls.list = (NtQueryDirectoryFileFn)(void *)GetProcAddress(ntdll, "NtQueryDirectoryFile");
        calls.toNtPath = (DosPathToNtPathFn)(void *)GetProcAddress(ntdll, "RtlDosPathNameToNtPathName_U");
        calls.freeString = (FreeUnicodeStringFn)(void *)GetProcAddress(ntdll, "RtlFreeUnicodeString");
        loaded = true;
    }
    return calls;
}

const ACCESS_MASK kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// Without FILE_SHARE_DELETE, and with no DELETE access of their own: nobody can rename or remove
// them while they are held, and the setup's own opens, which do not share deletion, still work.
const ULONG kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE Created(NTSTATUS status, HANDLE handle)
{
    return status >= 0 ? handle : INVALID_HANDLE_VALUE;
}

// Whether a folder opened for listing holds nothing but "." and "..".
bool IsEmptyFolder(HANDLE folder)
{
    // FILE_NAMES_INFORMATION: next entry's offset, index, name's length in bytes, name.
    const FILE_INFORMATION_CLASS kFileNamesInformation = (FILE_INFORMATION_CLASS)12;
    const NTSTATUS kNoMoreFiles = (NTSTATUS)0x80000006L;
    ULONG buffer[1024];
    for (BOOLEAN restart = TRUE;; restart = FALSE) {
        IO_STATUS_BLOCK io = {};
        NTSTATUS status = Native().list(folder, NULL, NULL, NULL, &io, buffer, sizeof(buffer), kFileNamesInformation,
                                        FALSE, NULL, restart);
        if (status == kNoMoreFiles)
            return true;
        if (status < 0)
            return false;
        for (const BYTE *entry = (const BYTE *)buffer;;) {
            ULONG next = ((const ULONG *)entry)[0], bytes = ((const ULONG *)entry)[2];
            const WCHAR *name = (const WCHAR *)(entry + 3 * sizeof(ULONG));
            bool dots = (bytes == 2 && name[0] == L'.') || (bytes == 4 && name[0] == L'.' && name[1] == L'.');
            if (!dots)
                return false;
            if (next == 0)
                break;
            entry += next;
        }
    }
}

}

CFolderTree::CFolderTree() : m_count(0)
{
}

CFolderTree::~CFolderTree()
{
    for (int i = m_count - 1; i >= 0; --i) {
        CloseHandle(m_folders[i].handle);
        HeapFree(GetProcessHeap(), 0, m_folders[i].relative);
    }
}

UnpackOutcome CFolderTree::Open(const WCHAR *folder)
{
    const NativeCalls &native = Native();
    UNICODE_STRING name = {};
    if (!native.create || !native.list || !native.toNtPath || !native.freeString)
        return kUnpackFailed;
    if (!folder || !native.toNtPath(folder, &name, NULL, NULL))
        return kUnpackFolderRefused;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, NULL, NULL);
    IO_STATUS_BLOCK io = {};
    HANDLE root = INVALID_HANDLE_VALUE;
    // Made or opened in one step; a link is opened itself, and refused below.
    NTSTATUS status = native.create(&root, kFolderAccess, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL, kFolderSharing,
                                    FILE_OPEN_IF, FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT,
                                    NULL, 0);
    native.freeString(&name);
    root = Created(status, root);
    if (root == INVALID_HANDLE_VALUE)
        return kUnpackFolderRefused;
    BY_HANDLE_FILE_INFORMATION info;
    WCHAR *relative = (WCHAR *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WCHAR));
    bool usable = GetFileInformationByHandle(root, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                  (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && (io.Information == FILE_CREATED || IsEmptyFolder(root));
    if (!usable || !relative) {
        CloseHandle(root);
        if (relative)
            HeapFree(GetProcessHeap(), 0, relative);
        return relative ? kUnpackFolderRefused : kUnpackFailed;
    }
    m_folders[0].relative = relative;
    m_folders[0].handle = root;
    m_count = 1;
    return kUnpackDone;
}

HANDLE CFolderTree::CreateIn(HANDLE folder, const WCHAR *name, size_t length, bool directory)
{
    UNICODE_STRING text;
    text.Buffer = (PWSTR)name;
    text.Length = text.MaximumLength = (USHORT)(length * sizeof(WCHAR));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, NULL);
    IO_STATUS_BLOCK io = {};
    HANDLE made = INVALID_HANDLE_VALUE;
    NTSTATUS status =
        directory ? Native().create(&made, kFolderAccess, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL, kFolderSharing,
                                    FILE_CREATE, FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0)
                  : Native().create(&made, FILE_GENERIC_WRITE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ,
                                    FILE_CREATE, FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_SEQUENTIAL_ONLY,
                                    NULL, 0);
    return Created(status, made);
}

// The held folder `relative` (its first `length` characters, "\" first), made as far as it is
// missing; INVALID_HANDLE_VALUE when a part of it is there and was not made by this run.
HANDLE CFolderTree::FolderOf(const WCHAR *relative, size_t length)
{
    for (int i = 0; i < m_count; ++i) {
        if (wcslen(m_folders[i].relative) == length && _wcsnicmp(m_folders[i].relative, relative, length) == 0)
            return m_folders[i].handle;
    }
    size_t parentLength = length;
    while (parentLength > 0 && relative[parentLength - 1] != L'\\')
        --parentLength;
    if (parentLength == 0 || m_count == kMaxFolders)
        return INVALID_HANDLE_VALUE;
    HANDLE parent = FolderOf(relative, parentLength - 1);
    if (parent == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    WCHAR *copy = (WCHAR *)HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(WCHAR));
    HANDLE made = copy ? CreateIn(parent, relative + parentLength, length - parentLength, true) : INVALID_HANDLE_VALUE;
    if (made == INVALID_HANDLE_VALUE) {
        if (copy)
            HeapFree(GetProcessHeap(), 0, copy);
        return INVALID_HANDLE_VALUE;
    }
    memcpy(copy, relative, length * sizeof(WCHAR));
    copy[length] = 0;
    m_folders[m_count].relative = copy;
    m_folders[m_count].handle = made;
    ++m_count;
    return made;
}

HANDLE CFolderTree::CreateNewFile(const WCHAR *relative)
{
    if (m_count == 0 || !IsPlainRelativePath(relative))
        return INVALID_HANDLE_VALUE;
    size_t length = wcslen(relative), name = length;
    while (relative[name - 1] != L'\\')
        --name;
    HANDLE folder = FolderOf(relative, name - 1);
    return folder == INVALID_HANDLE_VALUE ? INVALID_HANDLE_VALUE : CreateIn(folder, relative + name, length - name, false);
}
