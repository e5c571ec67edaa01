# The Debian package: `cpack -G DEB` in the build folder packs everything
# `cmake --install` installs (the tool, its man page, the packages, the engine
# library, the SDK headers, libraries and CMake files) under /usr.
# dpkg-shlibdeps computes the package's dependencies from the binaries.
include_guard(GLOBAL)

set(CPACK_PACKAGE_NAME velquor)
set(CPACK_PACKAGE_VENDOR "Velquor")
set(CPACK_PACKAGE_CONTACT "Velquor maintainers <velquor@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Velquor engine, sorting multiplexer, I/O packages, the velquor tool and the package SDK")
set(CPACK_PACKAGE_DESCRIPTION
    "A real-time data-flow engine (libvelquor) with the velquor command-line tool, which merges
time-stamped streams (network captures, CAN logs, sensor series) into one timestamp-ordered
stream and runs diagram scripts; its packages (the sorting multiplexer, capture, log, CSV and
sound players and recorders); and the SDK to build packages and engine hosts: headers, static
libraries, the CMake package VelquorSDK and a pkg-config file.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_GENERATOR DEB)
include(CPack)
