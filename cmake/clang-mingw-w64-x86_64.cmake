# Release build for 64-bit Windows: clang 14 + lld on GCC 12's MinGW-w64
# runtime, with PDBs (see clang-mingw-w64.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QX_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw-w64.cmake)
