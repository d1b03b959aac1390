# Cross build for Windows x64 with Zig 0.11.0: the ARM64 build's toolchain
# on an architecture this machine runs under Wine, so the Zig runtime's
# own faults can be seen here. Not shipped.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QX_ZIG_TARGET x86_64-windows-gnu)
set(QX_WINDRES_TARGET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/zig-windows.cmake)
