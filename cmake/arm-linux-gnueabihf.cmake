# Cross-compiling for 32-bit ARM Linux with hardware floating point
# (Debian's armhf, ARMv7: a Raspberry Pi 2 or later on a 32-bit system).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(triplet arm-linux-gnueabihf)
set(qemu_arch arm)
set(debian_arch armhf)
include(${CMAKE_CURRENT_LIST_DIR}/debian_cross.cmake)
