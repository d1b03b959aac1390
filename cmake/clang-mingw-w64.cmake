# Shared part of the release cross builds for Windows x64 and x86: Debian's
# clang 14 and lld 14 on GCC 12's MinGW-w64 runtime (libstdc++, libgcc,
# winpthreads, the MinGW-w64 CRT), all linked in statically as in the GCC
# builds. Clang writes CodeView and lld a PDB, which the platform's debugger
# reads; GNU ld cannot. The including file sets QX_MINGW_PREFIX and
# CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)
set(QX_CLANG_MINGW ON)

# Debian's clang does not recognise GCC's "12-posix" folder as a GCC
# installation, so its C++ headers, libraries and crtbegin/crtend (which
# register the DWARF unwind tables on x86) are named here.
set(QX_GCC_LIB /usr/lib/gcc/${QX_MINGW_PREFIX}/12-posix)
if(NOT EXISTS "${QX_GCC_LIB}/libstdc++.a" OR NOT EXISTS "${QX_GCC_LIB}/include/c++/string")
  message(FATAL_ERROR "No GCC 12 posix MinGW-w64 runtime in ${QX_GCC_LIB} "
                      "(Debian package g++-mingw-w64-${CMAKE_SYSTEM_PROCESSOR}-posix; scripts/deps.sh)")
endif()
find_program(QX_CLANG clang++-14 REQUIRED)
find_program(QX_LLD ld.lld-14 REQUIRED)

set(CMAKE_C_COMPILER   clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET   ${QX_MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${QX_MINGW_PREFIX})
set(CMAKE_RC_COMPILER ${QX_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP     ${QX_MINGW_PREFIX}-objdump)
set(CMAKE_AR     llvm-ar-14)
set(CMAKE_RANLIB llvm-ranlib-14)

set(_qx_cxx_inc "${QX_GCC_LIB}/include/c++")
set(CMAKE_C_FLAGS_INIT "-B${QX_GCC_LIB}")
set(CMAKE_CXX_FLAGS_INIT "-B${QX_GCC_LIB} -isystem ${_qx_cxx_inc} -isystem ${_qx_cxx_inc}/${QX_MINGW_PREFIX} -isystem ${_qx_cxx_inc}/backward")
foreach(_qx_kind EXE SHARED MODULE)
  set(CMAKE_${_qx_kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -L${QX_GCC_LIB} -nostdlib++")
endforeach()
# The C++ runtime goes in as one group (cmake/QxCommon.cmake), so that
# libstdc++'s calls into winpthreads and the CRT resolve whatever the order.

set(CMAKE_FIND_ROOT_PATH /usr/${QX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
