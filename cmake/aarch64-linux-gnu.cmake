# Cross-compiling for 64-bit ARM Linux (Debian's arm64: a Raspberry Pi 3, 4
# or 5 on a 64-bit system).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(triplet aarch64-linux-gnu)
set(qemu_arch aarch64)
set(debian_arch arm64)
include(${CMAKE_CURRENT_LIST_DIR}/debian_cross.cmake)
