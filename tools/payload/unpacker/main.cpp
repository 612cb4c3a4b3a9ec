// The browser's payload installer, velmarin3zip.exe. Run as
//     velmarin3zip.exe [/T=<threads>] /P=<folder>
// with the folder being everything after "/P=" (spaces allowed, not quoted), it makes the folder
// (or takes it empty), writes every file of the browser's set into it as a new file, and ends
// with 0 once every one is complete; else with one of the codes of UnpackRules.h, 2 where no
// folder is given. It shows no window. It carries its set as two resources: the payload
// manifest (names, sizes and SHA-256 in packing order) and the .xz stream of the files' bytes.
#include "base/DllSafety.h"
#include "engine/payload/PayloadManifest.h"
#include "tools/payload/unpacker/FolderTree.h"
#include "tools/payload/unpacker/Unpacker.h"
#include "tools/payload/unpacker/UnpackerResources.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    // It runs elevated from the setup's temporary folder: no DLL is ever taken from there.
    RestrictDllSearchToSystem();
    SetErrorMode(SEM_FAILCRITICALERRORS);
    UnpackArguments arguments;
    if (!ReadUnpackArguments(GetCommandLineW(), arguments))
        return kUnpackNoFolder;

    HMODULE module = GetModuleHandleW(NULL);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDB_PAYLOAD_STREAM), L"BIN");
    HGLOBAL loaded = found ? LoadResource(module, found) : NULL;
    const BYTE *stream = loaded ? (const BYTE *)LockResource(loaded) : NULL;
    const CPayloadManifest &manifest = CPayloadManifest::Instance();
    if (!stream || !manifest.IsValid())
        return kUnpackFailed;
    PackedStream packed = {stream, SizeofResource(module, found), INVALID_HANDLE_VALUE, 0};
    ULONGLONG blocks = CountBlocks(packed.mapped, packed.size);
    if (blocks == 0)
        return kUnpackDamaged;

    CFolderTree tree;
    UnpackOutcome opened = tree.Open(arguments.folder);
    if (opened != kUnpackDone)
        return opened;
    // The cores this process may run on: a deployment that keeps the setup to some keeps its
    // payload program to them too (a child inherits them), and more threads would only take turns.
    DWORD_PTR own = 0, all = 0;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    int cores = GetProcessAffinityMask(GetCurrentProcess(), &own, &all) && own ? CoresIn(own)
                                                                              : (int)system.dwNumberOfProcessors;
    OpenOwnFile(module, packed);
    UnpackOutcome outcome = UnpackStream(packed, manifest, tree, DecoderThreads(cores, arguments.threads, blocks));
    if (packed.file != INVALID_HANDLE_VALUE)
        CloseHandle(packed.file);
    return outcome;
}
