# Cross-compiling for 64-bit little-endian POWER Linux (Debian's ppc64el),
# whose kernel has 64 KiB pages: the QEMU test's one real 64 KiB-page kernel.
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(triplet powerpc64le-linux-gnu)
set(qemu_arch ppc64le)
set(debian_arch ppc64el)
include(${CMAKE_CURRENT_LIST_DIR}/debian_cross.cmake)
