# Debian's hardening, for the optimised builds that are installed and
# packaged: what `DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags`
# gives on Debian 12 (fortified functions, stack protector, read-only
# relocations with immediate binding, PIE).
# Not for Debug builds (fortify needs optimisation), nor Windows, nor the
# fuzz build, whose instrumentation takes their place.
include(CheckPIESupported)

set(optimised_build_types Release RelWithDebInfo MinSizeRel)
if(NOT WIN32 AND NOT MSVC AND NOT LINE_TRANSMITTER_FUZZ
   AND CMAKE_BUILD_TYPE IN_LIST optimised_build_types)
  add_compile_definitions(_FORTIFY_SOURCE=2)
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
  add_link_options(-Wl,-z,relro -Wl,-z,now)
  check_pie_supported(LANGUAGES CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()
