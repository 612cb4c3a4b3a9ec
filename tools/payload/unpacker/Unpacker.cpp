#include "tools/payload/unpacker/Unpacker.h"
#include <lzma.h>
#include "base/Format.h"
#include <string.h>

namespace {

// The index of a single, whole stream: its blocks' places, read from its end, and its flags.
lzma_index *ReadIndex(const BYTE *stream, size_t size, lzma_stream_flags &footer)
{
    lzma_stream_flags header;
    if (!stream || size < 2 * LZMA_STREAM_HEADER_SIZE || lzma_stream_header_decode(&header, stream) != LZMA_OK ||
        lzma_stream_footer_decode(&footer, stream + size - LZMA_STREAM_HEADER_SIZE) != LZMA_OK ||
        lzma_stream_flags_compare(&header, &footer) != LZMA_OK ||
        footer.backward_size > size - 2 * LZMA_STREAM_HEADER_SIZE)
        return NULL;
    size_t at = size - LZMA_STREAM_HEADER_SIZE - (size_t)footer.backward_size, end = size - LZMA_STREAM_HEADER_SIZE;
    lzma_index *index = NULL;
    uint64_t memory = 16u << 20;
    if (lzma_index_buffer_decode(&index, &memory, NULL, stream, &at, end) != LZMA_OK)
        return NULL;
    // Nothing before, between or after: exactly this one stream.
    if (at != end || lzma_index_file_size(index) != size || lzma_index_stream_count(index) != 1) {
        lzma_index_end(index, NULL);
        return NULL;
    }
    return index;
}

// The files' places in the uncompressed data, each held open from when it is made until the
// decoder has checked all of it.
class COutputFiles {
public:
    COutputFiles(const CPayloadManifest &manifest, CFolderTree &tree)
        : m_manifest(manifest), m_tree(tree), m_handles(NULL), m_current(-1), m_firstHeld(0), m_position(0),
          m_currentEnd(0)
    {
        m_handles = (HANDLE *)HeapAlloc(GetProcessHeap(), 0, (manifest.FileCount() + 1) * sizeof(HANDLE));
    }
    ~COutputFiles()
    {
        if (m_handles)
            HeapFree(GetProcessHeap(), 0, m_handles);
    }
    bool IsReady() const { return m_handles != NULL; }
    bool AllWritten() const { return m_current == m_manifest.FileCount() - 1 && m_position == m_currentEnd; }

    // Makes every file that starts where the data has got to (an empty one ends there too).
    UnpackOutcome OpenFilesStartingHere()
    {
        while (m_position == m_currentEnd && m_current + 1 < m_manifest.FileCount()) {
            const ManifestFile &file = m_manifest.File(m_current + 1);
            HANDLE handle = m_tree.CreateNewFile(file.relative);
            if (handle == INVALID_HANDLE_VALUE)
                return kUnpackFileExists;
            m_handles[++m_current] = handle;
            m_currentEnd += file.size;
        }
        return kUnpackDone;
    }

    UnpackOutcome Write(const BYTE *bytes, size_t length)
    {
        while (length > 0) {
            UnpackOutcome opened = OpenFilesStartingHere();
            if (opened != kUnpackDone)
                return opened;
            // More data than the manifest's files hold.
            if (m_position == m_currentEnd)
                return kUnpackDamaged;
            ULONGLONG left = m_currentEnd - m_position;
            DWORD chunk = left < length ? (DWORD)left : (DWORD)length, written = 0;
            if (!WriteFile(m_handles[m_current], bytes, chunk, &written, NULL) || written != chunk)
                return kUnpackWriteFailed;
            bytes += chunk;
            length -= chunk;
            m_position += chunk;
        }
        return OpenFilesStartingHere();
    }

    // Lets go of the files that lie wholly before `checked`.
    void Release(ULONGLONG checked)
    {
        while (m_firstHeld <= m_current && FileEnd(m_firstHeld) <= checked)
            CloseHandle(m_handles[m_firstHeld++]);
    }

    // Cuts every file still held to nothing and lets go of it.
    void Discard()
    {
        for (; m_firstHeld <= m_current; ++m_firstHeld) {
            HANDLE handle = m_handles[m_firstHeld];
            SetFilePointer(handle, 0, NULL, FILE_BEGIN);
            SetEndOfFile(handle);
            CloseHandle(handle);
        }
    }

private:
    // Where file `index` ends: the current one's end less the sizes of those after it.
    ULONGLONG FileEnd(int index) const
    {
        ULONGLONG end = m_currentEnd;
        for (int i = m_current; i > index; --i)
            end -= m_manifest.File(i).size;
        return end;
    }

    const CPayloadManifest &m_manifest;
    CFolderTree &m_tree;
    HANDLE *m_handles;
    int m_current;    // the last file made
    int m_firstHeld;  // the first file still held
    ULONGLONG m_position, m_currentEnd;
};

// What the decoder needs to know of a block: where it lies in the stream and in the files' bytes.
struct BlockPlace {
    ULONGLONG packedOffset;  // its header's place in the stream
    ULONGLONG packedSize;    // header, data, padding and check
    ULONGLONG unpaddedSize;
    ULONGLONG start, size;   // in the files' bytes
};

const size_t kPiece = 256 << 10;

// `size` bytes of the stream at `at`: in the mapped copy, or read into `buffer` through the
// program's own file (positioned reads, so that the threads can share the handle); null when
// they cannot be had.
const BYTE *StreamBytes(const PackedStream &stream, ULONGLONG at, size_t size, BYTE *buffer)
{
    if (at > stream.size || size > stream.size - at)
        return NULL;
    if (stream.file == INVALID_HANDLE_VALUE)
        return stream.mapped + at;
    ULONGLONG offset = stream.offset + at;
    OVERLAPPED place = {};
    place.Offset = (DWORD)offset;
    place.OffsetHigh = (DWORD)(offset >> 32);
    DWORD read = 0;
    return ReadFile(stream.file, buffer, (DWORD)size, &read, &place) && read == size ? buffer : NULL;
}

// Reads the header of block `place` into `block`, whose filters' options liblzma allocates
// (lzma_filters_free lets go of them). False when the header is damaged or disagrees with the
// index. The dictionary is cut to the block's size: no match can reach before the block's start,
// so what lies beyond would never be used, and a header cannot make the program take more memory
// than the block's own bytes.
bool ReadBlockHeader(const PackedStream &stream, const BlockPlace &place, lzma_check check, lzma_block &block,
                     lzma_filter *filters)
{
    BYTE header[LZMA_BLOCK_HEADER_SIZE_MAX];
    memset(&block, 0, sizeof(block));
    block.version = 1;
    block.check = check;
    block.filters = filters;
    filters[0].id = LZMA_VLI_UNKNOWN;
    size_t available = place.packedSize < sizeof(header) ? (size_t)place.packedSize : sizeof(header);
    const BYTE *bytes = StreamBytes(stream, place.packedOffset, available, header);
    // A first byte of 0 marks the index, not a block.
    if (!bytes || available == 0 || bytes[0] == 0)
        return false;
    block.header_size = lzma_block_header_size_decode(bytes[0]);
    if (block.header_size > available || lzma_block_header_decode(&block, NULL, bytes) != LZMA_OK)
        return false;
    bool agrees = lzma_block_compressed_size(&block, place.unpaddedSize) == LZMA_OK &&
                  (block.uncompressed_size == LZMA_VLI_UNKNOWN || block.uncompressed_size == place.size);
    if (!agrees) {
        lzma_filters_free(filters, NULL);
        return false;
    }
    block.uncompressed_size = place.size;
    for (lzma_filter *filter = filters; filter->id != LZMA_VLI_UNKNOWN; ++filter) {
        if (filter->id == LZMA_FILTER_LZMA2 && filter->options) {
            lzma_options_lzma *options = (lzma_options_lzma *)filter->options;
            if (options->dict_size > place.size)
                options->dict_size = place.size < LZMA_DICT_SIZE_MIN ? LZMA_DICT_SIZE_MIN : (uint32_t)place.size;
        }
    }
    return true;
}

// A thread's decoded bytes that are not yet the files' turn: kept in a file of its own in the
// temporary folder (the setup's protected folder when it runs the program) rather than in memory,
// and handed to the files once they are. Made new, shared with nobody and gone once closed.
class CSpill {
public:
    CSpill() : m_file(INVALID_HANDLE_VALUE), m_length(0) {}
    ~CSpill()
    {
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(m_file);
    }
    // Gives its room on the drive back at once: the files may need it.
    void Clear()
    {
        LARGE_INTEGER start = {};
        if (m_file != INVALID_HANDLE_VALUE && SetFilePointerEx(m_file, start, NULL, FILE_BEGIN))
            SetEndOfFile(m_file);
        m_length = 0;
    }
    // False when it cannot be made or written: the block is then decoded again in its turn.
    bool Append(const BYTE *bytes, size_t length)
    {
        // Written one after another from the start: Clear puts the file's place back there.
        if (m_file == INVALID_HANDLE_VALUE && !Make())
            return false;
        DWORD written = 0;
        if (!WriteFile(m_file, bytes, (DWORD)length, &written, NULL) || written != length)
            return false;
        m_length += length;
        return true;
    }
    UnpackOutcome HandTo(COutputFiles &files, BYTE *buffer)
    {
        LARGE_INTEGER start = {};
        if (m_length > 0 && !SetFilePointerEx(m_file, start, NULL, FILE_BEGIN))
            return kUnpackFailed;
        for (ULONGLONG left = m_length; left > 0;) {
            DWORD piece = left < kPiece ? (DWORD)left : (DWORD)kPiece, read = 0;
            if (!ReadFile(m_file, buffer, piece, &read, NULL) || read != piece)
                return kUnpackFailed;
            UnpackOutcome written = files.Write(buffer, piece);
            if (written != kUnpackDone)
                return written;
            left -= piece;
        }
        Clear();
        return kUnpackDone;
    }

private:
    bool Make()
    {
        WCHAR folder[MAX_PATH], path[MAX_PATH];
        DWORD length = GetTempPathW(MAX_PATH, folder);
        if (length == 0 || length >= MAX_PATH ||
            !Format(path, L"%svelmarin3zip-%lu-%lu.tmp", folder, GetCurrentProcessId(), GetCurrentThreadId()))
            return false;
        // CREATE_NEW: a name someone put there, link or file, is never opened.
        m_file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_NEW,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
        // Bytes kept on another machine could come back other than they went: no spill there.
        if (m_file != INVALID_HANDLE_VALUE && IsOnAnotherMachine(m_file)) {
            CloseHandle(m_file);
            m_file = INVALID_HANDLE_VALUE;
        }
        return m_file != INVALID_HANDLE_VALUE;
    }

    // Whether Windows says the opened file's volume is a network one (also where the name was
    // local and a link led there); also true where it cannot say.
    static bool IsOnAnotherMachine(HANDLE file)
    {
        typedef LONG(NTAPI * QueryVolumeFn)(HANDLE, void *, void *, ULONG, int);
        struct DeviceInformation {
            ULONG type, characteristics;
        } device = {};
        ULONG_PTR status[2] = {};
        const int kFileFsDeviceInformation = 4;
        const ULONG kRemoteDevice = 0x10;
        QueryVolumeFn query =
            (QueryVolumeFn)(void *)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryVolumeInformationFile");
        return !query || query(file, status, &device, sizeof(device), kFileFsDeviceInformation) < 0 ||
               (device.characteristics & kRemoteDevice) != 0;
    }

    HANDLE m_file;
    ULONGLONG m_length;

    CSpill(const CSpill &);
    CSpill &operator=(const CSpill &);
};

// Decodes the blocks on threads of its own, each block by liblzma's block decoder with a
// dictionary of the block's size and nothing else of its size in memory. The files take the
// bytes in their order: the thread of the first block not yet written writes straight into them,
// the others keep what they decode in their spill until it is their block's turn. A block's turn
// comes once every block before it is written and checked; its files are let go of once their
// last block is.
class CBlockDecoder {
public:
    CBlockDecoder(const PackedStream &stream, lzma_check check, const BlockPlace *blocks, size_t count,
                  COutputFiles &files, bool spill)
        : m_stream(stream), m_check(check), m_blocks(blocks), m_count(count), m_files(files), m_spill(spill),
          m_turns(NULL), m_next(0), m_failed(0), m_outcome(kUnpackDone)
    {
        InitializeCriticalSection(&m_lock);
    }
    ~CBlockDecoder()
    {
        if (m_turns) {
            for (size_t i = 0; i < m_count; ++i)
                if (m_turns[i])
                    CloseHandle(m_turns[i]);
            HeapFree(GetProcessHeap(), 0, m_turns);
        }
        DeleteCriticalSection(&m_lock);
    }

    UnpackOutcome Run(int threads)
    {
        m_turns = (HANDLE *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, m_count * sizeof(HANDLE));
        HANDLE *workers = (HANDLE *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, threads * sizeof(HANDLE));
        bool ready = m_turns && workers;
        for (size_t i = 0; ready && i < m_count; ++i)
            ready = (m_turns[i] = CreateEventW(NULL, TRUE, i == 0, NULL)) != NULL;
        int started = 0;
        // The calling thread is one of them.
        for (; ready && started < threads - 1; ++started) {
            workers[started] = CreateThread(NULL, 0, Worker, this, 0, NULL);
            if (!workers[started])
                break;
        }
        if (ready)
            Work();
        else
            Fail(kUnpackFailed);
        if (started > 0)
            WaitForMultipleObjects((DWORD)started, workers, TRUE, INFINITE);
        for (int i = 0; i < started; ++i)
            CloseHandle(workers[i]);
        if (workers)
            HeapFree(GetProcessHeap(), 0, workers);
        return m_outcome;
    }

private:
    static DWORD WINAPI Worker(void *self)
    {
        ((CBlockDecoder *)self)->Work();
        return 0;
    }

    void Work()
    {
        // Taken with the thread's first block: a thread that finds none left fails nothing.
        BYTE *buffers = NULL;
        CSpill spill;
        // One decoder for all of the thread's blocks: liblzma keeps its dictionary from one block
        // to the next of the same size instead of taking new memory each time.
        lzma_stream decoder = LZMA_STREAM_INIT;
        for (;;) {
            size_t block = (size_t)InterlockedIncrement(&m_next) - 1;
            if (block >= m_count || m_failed)
                break;
            if (!buffers && !(buffers = (BYTE *)HeapAlloc(GetProcessHeap(), 0, 3 * kPiece))) {
                Fail(kUnpackFailed);
                break;
            }
            bool spilled = false;
            UnpackOutcome outcome = DecodeBlock(block, m_spill != 0, decoder, spill, buffers, spilled);
            // The spill could not take it: once it is the block's turn, straight into the files,
            // and no thread tries to keep bytes aside again in this run.
            if (outcome == kUnpackDone && spilled) {
                spill.Clear();
                InterlockedExchange(&m_spill, 0);
                outcome = DecodeBlock(block, false, decoder, spill, buffers, spilled);
            }
            if (outcome != kUnpackDone) {
                Fail(outcome);
                break;
            }
        }
        lzma_end(&decoder);
        if (buffers)
            HeapFree(GetProcessHeap(), 0, buffers);
    }

    bool IsTurnOf(size_t block) { return WaitForSingleObject(m_turns[block], 0) == WAIT_OBJECT_0; }
    bool WaitForTurn(size_t block) { return WaitForSingleObject(m_turns[block], INFINITE) == WAIT_OBJECT_0 && !m_failed; }

    // The first failure is the run's; every thread waiting for a turn is woken to end.
    void Fail(UnpackOutcome outcome)
    {
        EnterCriticalSection(&m_lock);
        if (!m_failed) {
            m_outcome = outcome;
            InterlockedExchange(&m_failed, 1);
            for (size_t i = 0; m_turns && i < m_count; ++i)
                if (m_turns[i])
                    SetEvent(m_turns[i]);
        }
        LeaveCriticalSection(&m_lock);
    }

    // Decodes block `index` and hands its bytes to the files in its turn. `useSpill`: bytes
    // decoded before the turn go to the spill; else the turn is waited for first. `spillFull`
    // says the spill refused them (the outcome is then kUnpackDone and nothing was written).
    UnpackOutcome DecodeBlock(size_t index, bool useSpill, lzma_stream &decoder, CSpill &spill, BYTE *buffers,
                              bool &spillFull)
    {
        spillFull = false;
        const BlockPlace &place = m_blocks[index];
        BYTE *input = buffers, *output = buffers + kPiece, *handOver = buffers + 2 * kPiece;
        if (!useSpill && !WaitForTurn(index))
            return kUnpackFailed;
        lzma_block block;
        lzma_filter filters[LZMA_FILTERS_MAX + 1];
        if (!ReadBlockHeader(m_stream, place, m_check, block, filters))
            return kUnpackDamaged;
        lzma_ret started = lzma_block_decoder(&decoder, &block);
        // Nothing left over from the thread's last block, even one it gave up.
        decoder.next_in = NULL;
        decoder.avail_in = 0;
        lzma_filters_free(filters, NULL);
        if (started != LZMA_OK)
            return started == LZMA_MEM_ERROR ? kUnpackFailed : kUnpackDamaged;
        bool inTurn = !useSpill || IsTurnOf(index);
        ULONGLONG fed = block.header_size, decoded = 0;
        UnpackOutcome outcome = kUnpackDone;
        for (lzma_ret result = LZMA_OK; outcome == kUnpackDone && result != LZMA_STREAM_END;) {
            if (m_failed) {
                outcome = kUnpackFailed;
                break;
            }
            if (decoder.avail_in == 0 && fed < place.packedSize) {
                size_t piece = place.packedSize - fed < kPiece ? (size_t)(place.packedSize - fed) : kPiece;
                decoder.next_in = StreamBytes(m_stream, place.packedOffset + fed, piece, input);
                if (!decoder.next_in) {
                    outcome = kUnpackFailed;
                    break;
                }
                decoder.avail_in = piece;
                fed += piece;
            }
            decoder.next_out = output;
            decoder.avail_out = kPiece;
            result = lzma_code(&decoder, fed == place.packedSize ? LZMA_FINISH : LZMA_RUN);
            size_t produced = kPiece - decoder.avail_out;
            decoded += produced;
            if (result != LZMA_OK && result != LZMA_STREAM_END)
                outcome = result == LZMA_MEM_ERROR ? kUnpackFailed : kUnpackDamaged;
            else if (decoded > place.size)
                outcome = kUnpackDamaged;
            if (outcome != kUnpackDone || produced == 0)
                continue;
            if (!inTurn && IsTurnOf(index)) {
                outcome = m_failed ? kUnpackFailed : spill.HandTo(m_files, handOver);
                inTurn = true;
            }
            if (outcome != kUnpackDone)
                break;
            if (inTurn) {
                outcome = m_files.Write(output, produced);
            } else if (!m_spill || !spill.Append(output, produced)) {
                spillFull = true;
                break;
            }
        }
        if (spillFull)
            return kUnpackDone;
        // The block's check is right and it holds exactly its bytes: now they may be handed on.
        if (outcome == kUnpackDone && (decoder.avail_in != 0 || fed != place.packedSize || decoded != place.size))
            outcome = kUnpackDamaged;
        if (outcome == kUnpackDone && !inTurn)
            outcome = WaitForTurn(index) ? spill.HandTo(m_files, handOver) : kUnpackFailed;
        if (outcome != kUnpackDone)
            return outcome;
        m_files.Release(place.start + place.size);
        if (index + 1 < m_count)
            SetEvent(m_turns[index + 1]);
        return kUnpackDone;
    }

    const PackedStream &m_stream;
    lzma_check m_check;
    const BlockPlace *m_blocks;
    size_t m_count;
    COutputFiles &m_files;
    volatile LONG m_spill;  // threads ahead of the files' turn keep their bytes aside
    HANDLE *m_turns;  // manual-reset, one a block: set when it is its turn (or the run has failed)
    volatile LONG m_next;
    volatile LONG m_failed;
    UnpackOutcome m_outcome;
    CRITICAL_SECTION m_lock;

    CBlockDecoder(const CBlockDecoder &);
    CBlockDecoder &operator=(const CBlockDecoder &);
};

}

ULONGLONG CountBlocks(const BYTE *stream, size_t size)
{
    lzma_stream_flags flags;
    lzma_index *index = ReadIndex(stream, size, flags);
    ULONGLONG blocks = index ? lzma_index_block_count(index) : 0;
    if (index)
        lzma_index_end(index, NULL);
    return blocks;
}

// The place in the file of what the image maps at `at`; 0 when it is no section's raw data.
static ULONGLONG FileOffsetOf(HMODULE module, const BYTE *at, size_t size)
{
    const BYTE *base = (const BYTE *)module;
    const IMAGE_NT_HEADERS *nt = (const IMAGE_NT_HEADERS *)(base + ((const IMAGE_DOS_HEADER *)base)->e_lfanew);
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    ULONGLONG rva = (ULONGLONG)(at - base);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (rva >= section->VirtualAddress && rva + size <= (ULONGLONG)section->VirtualAddress + section->SizeOfRawData)
            return rva - section->VirtualAddress + section->PointerToRawData;
    }
    return 0;
}

// Whether `file` holds at `offset` the `size` bytes at `loaded`.
static bool HoldsAt(HANDLE file, ULONGLONG offset, const BYTE *loaded, DWORD size)
{
    BYTE buffer[4096];
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    DWORD read = 0;
    return size <= sizeof(buffer) && SetFilePointerEx(file, at, NULL, FILE_BEGIN) &&
           ReadFile(file, buffer, size, &read, NULL) && read == size && memcmp(buffer, loaded, size) == 0;
}

void OpenOwnFile(HMODULE module, PackedStream &stream)
{
    // The program runs from the setup's protected folder, which holds it open against writing
    // and renaming until it has ended: the file of its name is the one it was loaded from. That
    // is checked all the same: its headers and the stream's last bytes, where a file of another
    // build would differ. What it holds besides is checked block by block as it is decoded.
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    ULONGLONG offset = FileOffsetOf(module, stream.mapped, stream.size);
    DWORD headers = ((const IMAGE_NT_HEADERS *)((const BYTE *)module + ((const IMAGE_DOS_HEADER *)module)->e_lfanew))
                        ->OptionalHeader.SizeOfHeaders;
    if (length == 0 || length >= MAX_PATH || offset == 0 || stream.size < 4096)
        return;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    if (HoldsAt(file, 0, (const BYTE *)module, headers < 4096 ? headers : 4096) &&
        HoldsAt(file, offset + stream.size - 4096, stream.mapped + stream.size - 4096, 4096)) {
        stream.file = file;
        stream.offset = offset;
    } else {
        CloseHandle(file);
    }
}


UnpackOutcome UnpackStream(const PackedStream &stream, const CPayloadManifest &manifest, CFolderTree &tree, int threads)
{
    if (!manifest.IsValid())
        return kUnpackFailed;
    lzma_stream_flags flags;
    lzma_index *index = ReadIndex(stream.mapped, stream.size, flags);
    if (!index || lzma_index_uncompressed_size(index) != manifest.TotalSize()) {
        if (index)
            lzma_index_end(index, NULL);
        return kUnpackDamaged;
    }
    // A stream without a check, or with one this build cannot verify, is refused, not trusted.
    if (flags.check == LZMA_CHECK_NONE || !lzma_check_is_supported(flags.check)) {
        lzma_index_end(index, NULL);
        return kUnpackDamaged;
    }
    // Each block costs a little beside the memory bound (its place, an event): no payload has
    // more than a few hundred.
    const lzma_vli kMostBlocks = 65536;
    if (lzma_index_block_count(index) > kMostBlocks) {
        lzma_index_end(index, NULL);
        return kUnpackDamaged;
    }
    size_t count = (size_t)lzma_index_block_count(index);
    BlockPlace *blocks = (BlockPlace *)HeapAlloc(GetProcessHeap(), 0, (count + 1) * sizeof(BlockPlace));
    lzma_index_iter iter;
    lzma_index_iter_init(&iter, index);
    for (size_t i = 0; blocks && i < count && !lzma_index_iter_next(&iter, LZMA_INDEX_ITER_BLOCK); ++i) {
        BlockPlace place = {iter.block.compressed_file_offset, iter.block.total_size, iter.block.unpadded_size,
                            iter.block.uncompressed_file_offset, iter.block.uncompressed_size};
        blocks[i] = place;
    }
    lzma_index_end(index, NULL);
    if (!blocks)
        return kUnpackFailed;

    // What a thread needs: the largest block's decoder and its buffers. Every header is read
    // before any file is made, so a damaged one leaves nothing behind.
    ULONGLONG perThread = 0, largest = 0;
    UnpackOutcome outcome = kUnpackDone;
    for (size_t i = 0; i < count && outcome == kUnpackDone; ++i) {
        lzma_block block;
        lzma_filter filters[LZMA_FILTERS_MAX + 1];
        if (!ReadBlockHeader(stream, blocks[i], flags.check, block, filters)) {
            outcome = kUnpackDamaged;
            break;
        }
        ULONGLONG memory = lzma_raw_decoder_memusage(filters);
        lzma_filters_free(filters, NULL);
        if (memory == UINT64_MAX)
            outcome = kUnpackDamaged;
        perThread = memory + 3 * kPiece > perThread ? memory + 3 * kPiece : perThread;
        largest = blocks[i].size > largest ? blocks[i].size : largest;
    }
    threads = ThreadsWithinMemory(threads, perThread, kDecoderMemoryLimit);
    if (outcome == kUnpackDone && threads == 0)
        outcome = kUnpackDamaged;

    COutputFiles files(manifest, tree);
    if (outcome == kUnpackDone && !files.IsReady())
        outcome = kUnpackFailed;
    if (outcome == kUnpackDone)
        outcome = files.OpenFilesStartingHere();
    if (outcome == kUnpackDone) {
        // Both answers of the temporary folder's volume, asked of its root.
        WCHAR temporary[MAX_PATH], volume[MAX_PATH];
        DWORD length = GetTempPathW(MAX_PATH, temporary), sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0,
              clusters = 0;
        ULARGE_INTEGER available = {};
        bool spill = threads > 1 && length > 0 && length < MAX_PATH && GetVolumePathNameW(temporary, volume, MAX_PATH) &&
                     GetDiskFreeSpaceExW(volume, &available, NULL, NULL) &&
                     GetDiskFreeSpaceW(volume, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters) &&
                     SpillLeavesRoomForTheFiles(available.QuadPart, manifest.TotalSize(), manifest.FileCount(), threads,
                                                largest, (ULONGLONG)sectorsPerCluster * bytesPerSector);
        CBlockDecoder decoder(stream, flags.check, blocks, count, files, spill);
        outcome = decoder.Run(threads);
    }
    if (outcome == kUnpackDone && !files.AllWritten())
        outcome = kUnpackDamaged;
    if (outcome == kUnpackDone)
        files.Release(manifest.TotalSize());
    else
        files.Discard();
    HeapFree(GetProcessHeap(), 0, blocks);
    return outcome;
}
