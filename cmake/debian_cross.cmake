# Shared by the Linux cross toolchains: Debian's cross compiler for TRIPLET,
# its own libraries as the target's, and qemu-user (QEMU_ARCH) to run what
# is built, with those libraries (-L), as CMake's cross-compiling emulator.
# The package is named for DEBIAN_ARCH, as dpkg names the architecture.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${triplet}-gcc)
set(CMAKE_CXX_COMPILER ${triplet}-g++)
set(CMAKE_STRIP ${triplet}-strip)
set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu_arch} -L /usr/${triplet})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${debian_arch})
