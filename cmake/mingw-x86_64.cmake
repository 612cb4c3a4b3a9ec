# Cross toolchain: the same sources as 64-bit Windows executables, for test machines that cannot
# run 32-bit programs.
set(VELMARIN_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
