// Decodes each block of a payload's .xz stream on its own, on one thread, and prints the time of
// each and of the longest: with a core for every block, the unpacking takes about the longest.
//     block_bench.exe <stream.xz>
#include <windows.h>
#include <lzma.h>
#include <stdio.h>
#include <stdlib.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2)
        return 2;
    FILE *file = _wfopen(argv[1], L"rb");
    if (!file)
        return 1;
    fseek(file, 0, SEEK_END);
    size_t size = (size_t)ftell(file);
    fseek(file, 0, SEEK_SET);
    BYTE *stream = (BYTE *)malloc(size);
    bool read = stream && fread(stream, 1, size, file) == size;
    fclose(file);
    lzma_stream_flags footer;
    if (!read || lzma_stream_footer_decode(&footer, stream + size - LZMA_STREAM_HEADER_SIZE) != LZMA_OK)
        return 1;
    size_t at = size - LZMA_STREAM_HEADER_SIZE - (size_t)footer.backward_size;
    lzma_index *index = NULL;
    uint64_t memory = UINT64_MAX;
    if (lzma_index_buffer_decode(&index, &memory, NULL, stream, &at, size - LZMA_STREAM_HEADER_SIZE) != LZMA_OK)
        return 1;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    lzma_index_iter iter;
    lzma_index_iter_init(&iter, index);
    double longest = 0, total = 0;
    int blocks = 0;
    while (!lzma_index_iter_next(&iter, LZMA_INDEX_ITER_BLOCK)) {
        BYTE *output = (BYTE *)malloc((size_t)iter.block.uncompressed_size);
        lzma_filter filters[LZMA_FILTERS_MAX + 1];
        lzma_block block = {};
        block.version = 1;
        block.check = footer.check;
        block.filters = filters;
        const BYTE *header = stream + iter.block.compressed_file_offset;
        block.header_size = lzma_block_header_size_decode(header[0]);
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        size_t in = block.header_size, out = 0;
        bool ok = output && lzma_block_header_decode(&block, NULL, header) == LZMA_OK &&
                  lzma_block_buffer_decode(&block, NULL, header, &in, (size_t)iter.block.total_size, output, &out,
                                           (size_t)iter.block.uncompressed_size) == LZMA_OK;
        QueryPerformanceCounter(&end);
        for (int i = 0; filters[i].id != LZMA_VLI_UNKNOWN && ok; ++i)
            free(filters[i].options);
        free(output);
        if (!ok)
            return 1;
        double ms = (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
        printf("block %d: %.1f MB in %.0f ms\n", ++blocks, iter.block.uncompressed_size / 1e6, ms);
        total += ms;
        if (ms > longest)
            longest = ms;
    }
    printf("%d blocks, %.0f ms together, the longest %.0f ms\n", blocks, total, longest);
    return 0;
}
