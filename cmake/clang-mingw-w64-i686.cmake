# Release build for 32-bit Windows: clang 14 + lld on GCC 12's MinGW-w64
# runtime (DWARF-2 unwinding, as GCC's), with PDBs (see clang-mingw-w64.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QX_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw-w64.cmake)
