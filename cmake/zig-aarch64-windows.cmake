# Cross build for Windows ARM64 with Zig 0.11.0 (Debian has no toolchain
# for it). See zig-windows.cmake.
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(QX_ZIG_TARGET aarch64-windows-gnu)
set(QX_WINDRES_TARGET aarch64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/zig-windows.cmake)
