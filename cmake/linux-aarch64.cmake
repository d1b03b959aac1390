# Cross build for Linux on AArch64 with Debian's cross compiler; the test
# programs run under user-mode QEMU with the cross sysroot's loader and
# libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QX_CROSS_PREFIX aarch64-linux-gnu)
set(CMAKE_C_COMPILER   ${QX_CROSS_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${QX_CROSS_PREFIX}-g++)
set(CMAKE_OBJDUMP      ${QX_CROSS_PREFIX}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${QX_CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static;-L;/usr/${QX_CROSS_PREFIX})
