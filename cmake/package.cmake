# scripts/package: one Debian package, quenlo_VERSION_ARCH.deb, holding what
# cmake --install installs. dpkg-shlibdeps finds the dependencies.
set(QUENLO_PACKAGE_MAINTAINER "Quenlo developers <quenlo@example.org>"
    CACHE STRING "Maintainer named in the Debian package")

# Debian's documents: the copyright, and a changelog naming this version
# (dated from SOURCE_DATE_EPOCH too), both under share/doc/quenlo.
string(TIMESTAMP QUENLO_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(cmake/debian/changelog.in debian/changelog @ONLY)
set(changelog ${PROJECT_BINARY_DIR}/debian/changelog)
add_custom_command(OUTPUT ${changelog}.gz
  COMMAND gzip -9nf < ${changelog} > ${changelog}.gz
  DEPENDS ${changelog} VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${changelog}.gz)
install(FILES cmake/debian/copyright ${changelog}.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quenlo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenlo)
set(CPACK_PACKAGE_VENDOR "Quenlo developers")
set(CPACK_PACKAGE_CONTACT "${QUENLO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What no library names: Qt's own texts in Japanese (the question box's
# はい/いいえ) and a font for the window's Japanese.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-noto-cjk")
# The libraries' shlibs entries, and ldconfig run through its trigger rather
# than the maintainer scripts CPack would write.
file(WRITE ${PROJECT_BINARY_DIR}/debian/shlibs
     "libfigread ${PROJECT_VERSION_MAJOR} quenlo (>= ${PROJECT_VERSION})\n"
     "libanimread ${PROJECT_VERSION_MAJOR} quenlo (>= ${PROJECT_VERSION})\n")
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/debian/shlibs ${PROJECT_BINARY_DIR}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "robot motion tool for the RCB-4HV board")
# The summary is the synopsis; this is the extended description below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quenlo is for people who build servo-driven humanoid robots on the RCB-4HV
controller board with ICS servos. It reads a BAC6 model of the robot and
keyframed TRA4 motions, converts every motion into the board's multi-servo
commands, plays them on the robot over the board's USB serial port while a 3D
preview follows, and writes them with a boot program and a play loop into the
board's ROM so that the robot replays them on its own.
.
The package holds the window (quenlo), its jobs from a shell (quenlo-cli), a
simulated board on a pseudo-terminal (quenlo-sim), the BAC6 and TRA4 reader
libraries (libfigread, libanimread) with their headers, and an example robot.")
include(CPack)
