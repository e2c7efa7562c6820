# A build for arm64 (aarch64) Linux on another machine, with Debian's cross
# compiler (crossbuild-essential-arm64).  Its programs and tests run under
# qemu-user, with the arm64 libraries of Debian's cross packages as their root:
# no binfmt_misc is needed, as every arm64 program is started through the
# emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(LINEBENCH_SYSROOT /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${LINEBENCH_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(LINEBENCH_QEMU qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${LINEBENCH_QEMU} -L ${LINEBENCH_SYSROOT})
