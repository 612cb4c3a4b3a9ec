// The payload program's decisions, as functions of values: its command line, its thread count,
// and which of its files the decoder has vouched for so far.
#pragma once
#include <windows.h>

// How the program ends.
enum UnpackOutcome {
    kUnpackDone = 0,           // every file of the set is in the folder, complete and checked
    kUnpackFailed = 1,         // no manifest, no memory, or the system refused a call
    kUnpackNoFolder = 2,       // no "/P=" with a folder after it
    kUnpackFolderRefused = 3,  // the folder exists and is not empty, is a link, or cannot be made
    kUnpackFileExists = 4,     // a file or folder of the set is there already, or cannot be made
    kUnpackDamaged = 5,        // the packed data is damaged or does not match the manifest
    kUnpackWriteFailed = 6,    // a file could not be written whole (a full drive)
};

struct UnpackArguments {
    WCHAR folder[1024];  // everything after "/P=", spaces included
    int threads;         // from "/T=<n>" before it; 0: as many as the machine has cores
};

// Reads "<program> [/T=<n>] /P=<folder>": "/P=" and "/T=" start words (after a space or a tab),
// and the folder is the rest of the line, unquoted; a word quoted as a whole ("/P=<folder>") is
// read without its quotes too. False without a "/P=" or a folder after it, with a folder too
// long, or with a "/T=" that is not a number from 1 to 64.
bool ReadUnpackArguments(const WCHAR *commandLine, UnpackArguments &arguments);

// Decoding threads: as many as asked, or as the cores, never more than the blocks to decode.
int DecoderThreads(int cores, int asked, ULONGLONG blocks);

// What the decoder's threads may take together: each of `threads` blocks in decoding needs its
// dictionary (the block's size, as the payload is packed), its output and its input, and one
// block decoded may wait to be written; never more than 128 MiB, so that on any machine the
// program stays within about 160 MB (more threads then wait for memory instead).
ULONGLONG DecoderMemoryLimit(int threads, ULONGLONG largestBlock, ULONGLONG largestPackedBlock);

// The decoder hands out a block's bytes as it decodes them, before it has checked the block, but
// the next block's first byte only once it has. Given the ends of the blocks (uncompressed offsets,
// ascending) and how much it has handed out, the offset up to which everything is checked.
ULONGLONG CheckedEnd(const ULONGLONG *blockEnds, size_t blocks, ULONGLONG handedOut, bool streamEnded);

// Checks one path of the manifest ("\" first, components split by "\"): false for an empty
// component, "." or "..", or a character a file name cannot hold.
bool IsPlainRelativePath(const WCHAR *relative);
