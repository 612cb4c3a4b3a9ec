// Unpacks the payload's data: the files of the payload manifest one after another in its order,
// compressed as one .xz stream of independent blocks (x86 BCJ and LZMA2), decoded on several
// cores at once, each block by liblzma's block decoder on a thread of the program's own.
#pragma once
#include <windows.h>
#include "engine/payload/PayloadManifest.h"
#include "tools/payload/unpacker/FolderTree.h"

// What the decoding threads may take together; a block that alone would need more is damaged.
// With a dictionary of 16 MiB a block, two threads stay within 64 MB and any number within 160 MB
// (Wine itself takes about 15 MB of a process).
const ULONGLONG kDecoderMemoryLimit = 128ull << 20;

// The number of blocks of a stream; 0 when it is no single, whole .xz stream.
ULONGLONG CountBlocks(const BYTE *stream, size_t size);

// The stream as the decoder reads it: the resource mapped with the program's image, and where
// one could be had, a handle on the program's own file at the stream's place, through which it
// is read a piece at a time: the mapped copy is then never touched, and takes up no memory.
struct PackedStream {
    const BYTE *mapped;
    size_t size;
    HANDLE file;  // INVALID_HANDLE_VALUE: read the mapped copy
    ULONGLONG offset;
};
// Opens the program's own file for `stream` (mapped in `module`), writing shared with nobody,
// once its headers and the stream's last bytes read there equal the loaded ones; else leaves
// `stream.file` as it is.
void OpenOwnFile(HMODULE module, PackedStream &stream);

// Writes the files of `manifest` into `tree` from `stream`, with at most `threads` decoding
// threads. The files are made and written in the manifest's order, each only once the one before
// it is whole. Each file is held open until the decoder has checked every block it lies in: when the data
// turns out damaged, or a file cannot be written, every file still held is cut to nothing, so
// that no file the check has not vouched for looks complete. kUnpackDone only when every file
// of the manifest is complete and the stream holds exactly these bytes.
UnpackOutcome UnpackStream(const PackedStream &stream, const CPayloadManifest &manifest, CFolderTree &tree, int threads);
