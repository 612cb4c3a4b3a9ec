// The payload program's decisions, as functions of values: its command line, its thread count,
// and where its threads may keep what they decode ahead of the files.
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

// The cores an affinity mask names.
int CoresIn(ULONGLONG mask);

// Decoding threads: as many as asked, or as the cores, never more than the blocks to decode.
int DecoderThreads(int cores, int asked, ULONGLONG blocks);

// Of `threads`, how many may decode side by side when each takes `perThread` bytes (its block's
// dictionary and buffers) and all together at most `ceiling`: at least 1, or 0 when a single one
// would take more (the stream asks for more than any payload needs, and is taken as damaged).
int ThreadsWithinMemory(int threads, ULONGLONG perThread, ULONGLONG ceiling);

// Whether the threads ahead of the files' turn may keep what they decode on the temporary
// folder's drive (`available` bytes free, clusters of `cluster` bytes): only where the set's
// `files` files of `bytes` bytes still fit beside a block for every thread, so that keeping bytes
// aside does not make the files' own writes fail.
bool SpillLeavesRoomForTheFiles(ULONGLONG available, ULONGLONG bytes, int files, int threads, ULONGLONG largestBlock,
                                ULONGLONG cluster);

// Checks one path of the manifest ("\" first, components split by "\"): false for an empty
// component, "." or "..", or a character a file name cannot hold.
bool IsPlainRelativePath(const WCHAR *relative);
