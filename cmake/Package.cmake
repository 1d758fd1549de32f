# Debian package of the whole program (cpack -G DEB): the programs, data,
# help, desktop entry, AppStream file, icon, man pages, bash completion,
# copyright, changelog and udev rule as laid out by cmake/Install.cmake,
# under /usr. Library dependencies are computed by dpkg-shlibdeps (package
# dpkg-dev) from the installed programs. The maintainer scripts
# (resources/debian/postinst, postrm) make udev reload its rules.
#
# The programs find their data through the prefix fixed at configure time,
# so a package build is configured with -DCMAKE_INSTALL_PREFIX=/usr
# (scripts/package-test does so).

set(CPACK_PACKAGE_NAME "dorvane")
set(CPACK_PACKAGE_VENDOR "Dorvane developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "File manager for GPS field and area measurement handhelds")
# Lines of at most 80 characters (lintian: extended-description-line-too-long).
set(CPACK_PACKAGE_DESCRIPTION
  "Dorvane copies, moves and deletes files on a handheld GPS data collector
 over a serial cable or USB, and converts downloaded track and area files to
 GPX and KML. It comes with a two-pane desktop program (Chinese and English),
 the command-line tool dorvane-cli and the handheld emulator dorvane-sim.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME "dorvane")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debian revision 1 of the upstream version: the package is not native, so
# its changelog is changelog.Debian.gz (resources/debian/changelog.Debian,
# whose first entry must carry this version; tests/release checks it).
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# The address must be a routable one (lintian: bogus-mail-host); it is also
# the one in resources/debian/changelog.Debian.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Dorvane developers <dorvane@dorvane.example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/resources/debian/postinst
  ${PROJECT_SOURCE_DIR}/resources/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The help pages open in the desktop's browser; Qt's own texts (the buttons of
# message boxes) in Chinese; a CJK font for the interface and the ledger's PDF.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-translations-l10n, fonts-wqy-microhei | fonts-noto-cjk")

if(NOT CMAKE_INSTALL_PREFIX STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
  # Only a warning: developer builds keep their own prefix; cpack then
  # produces a package whose programs look for data in the wrong place.
  message(STATUS "Package: configure with -DCMAKE_INSTALL_PREFIX=/usr to build a usable .deb "
                 "(now ${CMAKE_INSTALL_PREFIX})")
endif()

include(CPack)
