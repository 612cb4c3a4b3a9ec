# liblzma's decoder, built from Debian's source package of xz-utils (tools/payload/xz-source.sh
# fetches it once into VELMARIN_XZ_DIR) with the project's own cross compiler, as the static
# library `velmarin_lzma` that the payload program and its benchmark link.
#
# Only the block decoder and the index are taken: the payload program runs its own threads, one
# block each. liblzma's threaded stream decoder keeps each block's packed and decoded bytes whole
# in memory beside its dictionary, so that blocks large enough for the payload's size would take
# two threads past 64 MB. The "win95" flavour of liblzma's thread layer (what XP has) is named so
# that its headers build; nothing of liblzma starts a thread.
set(VELMARIN_XZ_DIR ${CMAKE_BINARY_DIR}/xz-utils CACHE PATH
    "Where Debian's source package of xz-utils is fetched to and unpacked (once)")
set(XZ_SOURCE ${VELMARIN_XZ_DIR}/xz-utils-5.4.1)
execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/xz-source.sh ${VELMARIN_XZ_DIR} RESULT_VARIABLE xz_failed)
if(xz_failed)
    message(FATAL_ERROR "No source of liblzma (the messages above say why).")
endif()

set(lzma ${XZ_SOURCE}/src/liblzma)
add_library(velmarin_lzma STATIC
    ${lzma}/check/check.c ${lzma}/check/crc32_fast.c ${lzma}/check/crc32_table.c
    ${lzma}/check/crc64_fast.c ${lzma}/check/crc64_table.c ${lzma}/check/sha256.c
    ${lzma}/common/common.c ${lzma}/common/block_util.c ${lzma}/common/block_decoder.c
    ${lzma}/common/block_header_decoder.c ${lzma}/common/block_buffer_decoder.c
    ${lzma}/common/filter_common.c ${lzma}/common/filter_decoder.c ${lzma}/common/filter_flags_decoder.c
    ${lzma}/common/index.c ${lzma}/common/index_hash.c ${lzma}/common/index_decoder.c
    ${lzma}/common/stream_flags_common.c
    ${lzma}/common/stream_flags_decoder.c ${lzma}/common/vli_decoder.c ${lzma}/common/vli_size.c
    ${lzma}/lz/lz_decoder.c ${lzma}/lzma/lzma_decoder.c ${lzma}/lzma/lzma2_decoder.c
    ${lzma}/simple/simple_coder.c ${lzma}/simple/simple_decoder.c ${lzma}/simple/x86.c)
target_include_directories(velmarin_lzma PRIVATE
    ${lzma}/common ${lzma}/check ${lzma}/lz ${lzma}/rangecoder ${lzma}/lzma ${lzma}/delta ${lzma}/simple
    ${XZ_SOURCE}/src/common)
target_include_directories(velmarin_lzma SYSTEM PUBLIC ${lzma}/api)
# What liblzma's own CMake build defines for this target, less the encoders and the filters the
# payload does not use. A check it cannot verify is refused by the payload program, not skipped.
target_compile_definitions(velmarin_lzma PRIVATE
    HAVE_CHECK_CRC32 HAVE_CHECK_CRC64 HAVE_CHECK_SHA256 HAVE_DECODERS HAVE_DECODER_LZMA1
    HAVE_DECODER_LZMA2 HAVE_DECODER_X86 HAVE_STDBOOL_H HAVE__BOOL HAVE_STDINT_H HAVE_INTTYPES_H
    HAVE___BUILTIN_BSWAPXX TUKLIB_FAST_UNALIGNED_ACCESS TUKLIB_SYMBOL_PREFIX=lzma_
    MYTHREAD_WIN95 HAVE_VISIBILITY=0 NDEBUG)
target_compile_definitions(velmarin_lzma PUBLIC LZMA_API_STATIC)
target_compile_options(velmarin_lzma PRIVATE -std=gnu99 -O2 -w -ffunction-sections -fdata-sections
    -ffile-prefix-map=${VELMARIN_XZ_DIR}=xz -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
