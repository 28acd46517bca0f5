# Shared by the Linux cross toolchains: Debian's cross compiler for TRIPLET
# links against its own copy of the target's libraries; qemu-user
# (QEMU_ARCH), CMake's cross-compiling emulator, runs what is built with
# Debian's own packages of them (libc6:arm64, libstdc++6:arm64, ...), as a
# Debian system of that architecture would. (Not with the cross copy, -L:
# its loader is of another glibc build than the packages that the host's
# ld.so.cache then names, and the two crash together.)
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
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu_arch})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${debian_arch})
