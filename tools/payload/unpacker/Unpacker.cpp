#include "tools/payload/unpacker/Unpacker.h"
#include <lzma.h>
#include <string.h>

namespace {

// The index of a single, whole stream: its blocks' places, read from its end.
lzma_index *ReadIndex(const BYTE *stream, size_t size)
{
    lzma_stream_flags header, footer;
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
    ULONGLONG Position() const { return m_position; }
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

// The stream's bytes a piece at a time.
class CStreamReader {
public:
    explicit CStreamReader(const PackedStream &stream) : m_stream(stream), m_buffer(NULL), m_read(0)
    {
        if (stream.file != INVALID_HANDLE_VALUE)
            m_buffer = (BYTE *)HeapAlloc(GetProcessHeap(), 0, kPiece);
    }
    ~CStreamReader()
    {
        if (m_buffer)
            HeapFree(GetProcessHeap(), 0, m_buffer);
    }
    bool AtEnd() const { return m_read == m_stream.size; }
    // Gives the decoder the next piece once it has taken the last one; false when it cannot be read.
    bool Feed(lzma_stream &decoder)
    {
        if (decoder.avail_in > 0 || AtEnd())
            return true;
        size_t piece = m_stream.size - m_read < kPiece ? m_stream.size - m_read : kPiece;
        if (!m_buffer) {
            decoder.next_in = m_stream.mapped + m_read;
        } else {
            LARGE_INTEGER at;
            at.QuadPart = (LONGLONG)(m_stream.offset + m_read);
            DWORD read = 0;
            if (!SetFilePointerEx(m_stream.file, at, NULL, FILE_BEGIN) ||
                !ReadFile(m_stream.file, m_buffer, (DWORD)piece, &read, NULL) || read != piece)
                return false;
            decoder.next_in = m_buffer;
        }
        decoder.avail_in = piece;
        m_read += piece;
        return true;
    }

private:
    static const size_t kPiece = 1 << 20;
    const PackedStream &m_stream;
    BYTE *m_buffer;
    size_t m_read;
};

UnpackOutcome Decode(lzma_stream &decoder, CStreamReader &reader, const ULONGLONG *blockEnds, size_t blocks,
                     COutputFiles &files)
{
    const size_t kOutputSize = 1 << 20;
    BYTE *output = (BYTE *)HeapAlloc(GetProcessHeap(), 0, kOutputSize);
    if (!output)
        return kUnpackFailed;
    UnpackOutcome outcome = files.OpenFilesStartingHere();
    lzma_ret result = LZMA_OK;
    while (outcome == kUnpackDone && result == LZMA_OK) {
        if (!reader.Feed(decoder)) {
            outcome = kUnpackFailed;
            break;
        }
        decoder.next_out = output;
        decoder.avail_out = kOutputSize;
        result = lzma_code(&decoder, reader.AtEnd() ? LZMA_FINISH : LZMA_RUN);
        outcome = files.Write(output, kOutputSize - decoder.avail_out);
        if (outcome == kUnpackDone && result != LZMA_OK && result != LZMA_STREAM_END)
            outcome = result == LZMA_MEM_ERROR ? kUnpackFailed : kUnpackDamaged;
        if (outcome == kUnpackDone)
            files.Release(CheckedEnd(blockEnds, blocks, files.Position(), result == LZMA_STREAM_END));
    }
    HeapFree(GetProcessHeap(), 0, output);
    if (outcome == kUnpackDone && (decoder.avail_in != 0 || !reader.AtEnd() || !files.AllWritten()))
        outcome = kUnpackDamaged;
    return outcome;
}

}

ULONGLONG CountBlocks(const BYTE *stream, size_t size)
{
    lzma_index *index = ReadIndex(stream, size);
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
    lzma_index *index = ReadIndex(stream.mapped, stream.size);
    if (!index || lzma_index_uncompressed_size(index) != manifest.TotalSize()) {
        if (index)
            lzma_index_end(index, NULL);
        return kUnpackDamaged;
    }
    size_t blocks = (size_t)lzma_index_block_count(index);
    ULONGLONG *blockEnds = (ULONGLONG *)HeapAlloc(GetProcessHeap(), 0, (blocks + 1) * sizeof(ULONGLONG));
    lzma_index_iter iter;
    lzma_index_iter_init(&iter, index);
    ULONGLONG largest = 0, largestPacked = 0;
    for (size_t i = 0; blockEnds && i < blocks && !lzma_index_iter_next(&iter, LZMA_INDEX_ITER_BLOCK); ++i) {
        blockEnds[i] = iter.block.uncompressed_file_offset + iter.block.uncompressed_size;
        largest = iter.block.uncompressed_size > largest ? iter.block.uncompressed_size : largest;
        largestPacked = iter.block.total_size > largestPacked ? iter.block.total_size : largestPacked;
    }
    lzma_index_end(index, NULL);

    COutputFiles files(manifest, tree);
    lzma_stream decoder = LZMA_STREAM_INIT;
    lzma_mt options = {};
    // A stream without a check, or with one this build cannot verify, is refused, not trusted.
    options.flags = LZMA_TELL_NO_CHECK | LZMA_TELL_UNSUPPORTED_CHECK | LZMA_FAIL_FAST;
    options.threads = (uint32_t)threads;
    options.memlimit_threading = DecoderMemoryLimit(threads, largest, largestPacked);
    options.memlimit_stop = kDecoderMemoryLimit;
    UnpackOutcome outcome = kUnpackFailed;
    CStreamReader reader(stream);
    if (blockEnds && files.IsReady() && lzma_stream_decoder_mt(&decoder, &options) == LZMA_OK)
        outcome = Decode(decoder, reader, blockEnds, blocks, files);
    lzma_end(&decoder);
    if (outcome == kUnpackDone)
        files.Release(manifest.TotalSize());
    else
        files.Discard();
    if (blockEnds)
        HeapFree(GetProcessHeap(), 0, blockEnds);
    return outcome;
}
