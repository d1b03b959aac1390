# Flags shared by every target of the project.

# Output bytes of the unsharp mask depend on IEEE double rounding:
# no contraction into FMA, no fast-math, and SSE2 instead of x87 on i686.
set(QX_FP_FLAGS -ffp-contract=off -fno-fast-math)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "i686|i386|x86$")
  list(APPEND QX_FP_FLAGS -msse2 -mfpmath=sse)
endif()
add_compile_options(-Wall -Wextra ${QX_FP_FLAGS})
include_directories(${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)

if(WIN32)
  # Platform headers must see UNICODE before anything else.
  add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0601 WINVER=0x0601)
  # C and C++ runtimes linked in, so the DLLs import system DLLs only.
  # Zig always links its libc++ in and has no libgcc to choose.
  add_link_options(-static)
  if(NOT QX_ZIG_TOOLCHAIN AND NOT QX_CLANG_MINGW)
    add_link_options(-static-libgcc -static-libstdc++)
  endif()
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "i686")
    # The .def files name the plain exports; let ld map them to the
    # stdcall-decorated symbols without a warning each.
    add_link_options(-Wl,--enable-stdcall-fixup)
  endif()
endif()

# The same bytes from any clone: no build-machine path in what is compiled
# (debug records, __FILE__). The clone's root is called /qx748 in them, so
# a debugger finds the sources under any checkout given as its source path.
# Release builds and the release toolchains' builds; the other development
# builds keep real paths for their debuggers and sanitizer reports.
if(CMAKE_BUILD_TYPE STREQUAL "Release" OR QX_CLANG_MINGW OR QX_ZIG_TOOLCHAIN)
  add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=/qx748)
endif()
file(RELATIVE_PATH QX_BUILD_SUBDIR ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})

# PDBs for the platform's debugger (clang + lld; Zig's in zig-windows.cmake).
# The image names its PDB by bare file name and lld derives the PDB's GUID
# and the image's time stamp from their contents (-Brepro), so a rebuild of
# the same sources gives the same bytes; relative object paths in the PDB
# are made absolute against the build folder's name under /qx748.
if(QX_CLANG_MINGW)
  # The platform module sets the standard libraries after the toolchain file.
  string(APPEND CMAKE_CXX_STANDARD_LIBRARIES
         " -Wl,--start-group -lstdc++ -lgcc -lgcc_eh -lpthread -lmingwex -lmsvcrt -Wl,--end-group")
  add_compile_options(-g -gcodeview)
  add_link_options(-Wl,--pdb= -Wl,-Xlink=-pdbaltpath:%_PDB% -Wl,-Xlink=-Brepro
                   -Wl,-Xlink=-pdbsourcepath:/qx748/${QX_BUILD_SUBDIR})
endif()

# Zig's lld writes a PDB whenever there is debug information to put in it.
if(QX_ZIG_TOOLCHAIN)
  add_compile_options(-g -gcodeview)
  add_link_options(-g)
endif()

if(QX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QX_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Windows programs run through the emulator; keep a per-build prefix.
set(QX_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
if(WIN32 AND CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "i686")
    set(QX_WINE_ARCH win32)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(ARM64|aarch64)$")
    set(QX_WINE_ARCH arm64)
  else()
    set(QX_WINE_ARCH win64)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run;--arch;${QX_WINE_ARCH};--prefix;${QX_WINE_PREFIX})
endif()

# Tests that execute Windows code carry the label "wine": where this
# machine cannot run the build's architecture, scripts/test.sh leaves out
# exactly those and counts them as skipped.
function(qx_label_wine)
  if(WIN32)
    set_tests_properties(${ARGN} PROPERTIES LABELS wine)
  endif()
endfunction()

# qx_add_test(NAME name SOURCES ... [LIBS ...] [WINE_ONLY])
# One ctest entry per GoogleTest executable; the executable runs all its cases.
function(qx_add_test)
  cmake_parse_arguments(T "WINE_ONLY;NATIVE_ONLY" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(T_WINE_ONLY AND NOT WIN32)
    return()
  endif()
  if(T_NATIVE_ONLY AND WIN32)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} qx_gtest_main)
  if(QX_RUN_TESTS)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
    if(NOT T_TIMEOUT)
      set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
    qx_label_wine(${T_NAME})
  endif()
endfunction()

# The CLI tests are native programs that run qx748 as a separate program. In
# the Windows builds the same programs, from the native build folder, run
# this build's qx748.exe under Wine (QX748_CMD): the same cases and the
# same expected bytes for every architecture. Build the native preset first
# (scripts/test.sh does); a missing program fails the test, loudly.
# In a cross build for Linux (aarch64) the test program is this build's
# own, run by the emulator as ctest runs every test; the shell it starts
# runs on the build machine, so qx748 goes through the emulator as well.
set(QX_NATIVE_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/native CACHE PATH
    "Native build folder whose CLI test programs the Windows builds run")
function(qx_add_cli_test name native_program)
  if(NOT (CMAKE_CROSSCOMPILING AND QX_RUN_TESTS))
    return()
  endif()
  set(words)
  foreach(w IN LISTS CMAKE_CROSSCOMPILING_EMULATOR)
    string(APPEND words "'${w}' ")
  endforeach()
  if(NOT WIN32)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "QX748_CMD=${words}'$<TARGET_FILE:qx748>'")
    return()
  endif()
  add_test(NAME ${name}_${QX_WINE_ARCH} COMMAND ${QX_NATIVE_BUILD_DIR}/${native_program} --gtest_color=no)
  set_tests_properties(${name}_${QX_WINE_ARCH} PROPERTIES
    ENVIRONMENT "QX748_CMD=${words}'$<TARGET_FILE:qx748>'" TIMEOUT 900 LABELS wine)
endfunction()

# The shipped DLLs of the Zig builds: Zig 0.11's runtime exports its
# unwinder from every DLL and leaves a fiber-local-storage callback behind
# after FreeLibrary (see cmake/zig-runtime/eh_globals.cpp). Each DLL keeps
# its exception record in its own thread-local storage instead, and after
# the link exports exactly the names of its .def file.
if(QX_ZIG_TOOLCHAIN OR QX_CLANG_MINGW)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
endif()
function(qx_windows_dll target def_file)
  if(QX_ZIG_TOOLCHAIN)
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/zig-runtime/eh_globals.cpp)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/trim_exports.py $<TARGET_FILE:${target}> --def ${def_file}
      VERBATIM)
  endif()
  qx_shipped_image(${target})
endfunction()

# A PE image that ships (or is built by the same rules): its PDB gets an
# identity derived from the image's code (cmake/repro_stamp.py; after any
# other rewrite of the image). The release links' maps come from the drop's
# linker launcher (tools/dist/link_with_map.py).
function(qx_shipped_image target)
  if(NOT QX_CLANG_MINGW AND NOT QX_ZIG_TOOLCHAIN)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/repro_stamp.py $<TARGET_FILE:${target}>
            $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.pdb
    VERBATIM)
endfunction()
