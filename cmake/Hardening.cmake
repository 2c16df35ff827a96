# The hardening a Debian package's programs are built with (dpkg-buildflags, hardening=+all):
# position-independent executables, full RELRO with immediate binding, the strong stack
# protector, stack clash protection, format-string checks, and _FORTIFY_SOURCE=2 wherever
# the compiler optimizes (glibc warns that it does nothing without optimization, which
# would stop a Debug build with KESTROVA_WERROR). Sanitized builds are left alone: their
# runtimes do their own checking and do not mix with fortified string functions.
#
# Sets KESTROVA_HARDENED, and KESTROVA_FORTIFIED for the build types that get fortify.

include(CheckPIESupported)

set(KESTROVA_HARDENED OFF)
set(KESTROVA_FORTIFIED OFF)
if(KESTROVA_SANITIZE OR KESTROVA_FUZZ)
    return()
endif()

check_pie_supported(OUTPUT_VARIABLE _kestrova_pie_output LANGUAGES C CXX)
if(NOT CMAKE_CXX_LINK_PIE_SUPPORTED)
    message(FATAL_ERROR "the linker cannot make position-independent executables: "
                        "${_kestrova_pie_output}")
endif()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong -fstack-clash-protection -Wformat
                    -Werror=format-security)
add_link_options(LINKER:-z,relro LINKER:-z,now)

# Every build type but Debug optimizes; a custom one is taken to optimize too.
set(_kestrova_optimizing "$<NOT:$<CONFIG:Debug>>")
add_compile_definitions("$<${_kestrova_optimizing}:_FORTIFY_SOURCE=2>")

set(KESTROVA_HARDENED ON)
if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    set(KESTROVA_FORTIFIED ON)
endif()
