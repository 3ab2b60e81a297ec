# What `cmake --install` puts on a system, and the Debian package CPack makes of it.
include(GNUInstallDirs)

set(NORVANE_APP_ID org.norvane.DataViewer)
set(NORVANE_HOMEPAGE "https://github.com/norvane/norvane-data-viewer" CACHE STRING "Project home page, named in the package and the AppStream metadata")
set(NORVANE_SCREENSHOTS "https://raw.githubusercontent.com/norvane/norvane-data-viewer/v${PROJECT_VERSION}/docs/screenshots"
    CACHE STRING "Where software centres fetch the screenshots of docs/screenshots from")
set(NORVANE_MAINTAINER "Norvane Data Viewer developers <norvane@users.noreply.github.com>" CACHE STRING "Package maintainer")
# The day of configuring, or of SOURCE_DATE_EPOCH when set, so that a rebuild can give the same files.
string(TIMESTAMP NORVANE_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP NORVANE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
# Whatever the builder's umask, folders in the package are the usual rwxr-xr-x.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
set(generated ${PROJECT_BINARY_DIR}/packaging)

# Man pages are written in scdoc and the PNG icons drawn from the one SVG, both at build time, so
# the repository holds each only once, as source.
find_program(NORVANE_SCDOC scdoc)
find_program(NORVANE_RSVG_CONVERT rsvg-convert)
if(NOT NORVANE_SCDOC OR NOT NORVANE_RSVG_CONVERT)
  message(FATAL_ERROR "The man pages need scdoc and the icons rsvg-convert (Debian: scdoc, librsvg2-bin); "
                      "scripts/install-deps installs them")
endif()

set(package_files)
foreach(page norvane-cli norvane-viewer)
  set(source ${PROJECT_SOURCE_DIR}/docs/man/${page}.1.scd)
  set(page_out ${generated}/man/${page}.1)
  add_custom_command(OUTPUT ${page_out} ${page_out}.gz
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}/man
                     COMMAND ${NORVANE_SCDOC} < ${source} > ${page_out}
                     COMMAND gzip -9n < ${page_out} > ${page_out}.gz
                     DEPENDS ${source} VERBATIM)
  list(APPEND package_files ${page_out}.gz)
  install(FILES ${page_out}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

set(icon ${packaging}/icons/${NORVANE_APP_ID}.svg)
foreach(size 16 22 24 32 48 64 128 256)
  set(png ${generated}/icons/${size}x${size}/${NORVANE_APP_ID}.png)
  add_custom_command(OUTPUT ${png}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}/icons/${size}x${size}
                     COMMAND ${NORVANE_RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${icon}
                     DEPENDS ${icon} VERBATIM)
  list(APPEND package_files ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

configure_file(${packaging}/${NORVANE_APP_ID}.metainfo.xml.in ${generated}/${NORVANE_APP_ID}.metainfo.xml @ONLY)
configure_file(${packaging}/changelog.in ${generated}/changelog @ONLY)
add_custom_command(OUTPUT ${generated}/changelog.gz
                   COMMAND gzip -9n < ${generated}/changelog > ${generated}/changelog.gz
                   DEPENDS ${generated}/changelog VERBATIM)
list(APPEND package_files ${generated}/changelog.gz)
add_custom_target(norvane_package_files ALL DEPENDS ${package_files})

# The programs, stripped when CPack installs them.
install(TARGETS norvane-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET norvane-viewer)
  install(TARGETS norvane-viewer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${packaging}/${NORVANE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${generated}/${NORVANE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/languages/ DESTINATION ${CMAKE_INSTALL_DATADIR}/norvane-data-viewer/languages
          FILES_MATCHING PATTERN "*.dic.txt")
endif()
install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${packaging}/completions/norvane-cli.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME norvane-cli)
install(FILES ${packaging}/completions/_norvane-cli DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
# Below the prefix, so that an install into /usr/local or a home folder needs no root; the
# package's prefix /usr puts them where systemd and udev read them.
install(FILES ${packaging}/systemd/norvane-record@.service ${packaging}/systemd/norvane-collect.service
        DESTINATION lib/systemd/system)
install(FILES ${packaging}/udev/60-norvane-serial.rules DESTINATION lib/udev/rules.d)
install(FILES ${packaging}/modules-load/norvane-serial.conf DESTINATION lib/modules-load.d)
install(FILES ${packaging}/copyright ${generated}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/norvane-data-viewer)

# scripts/package builds just what the package holds, so packaging a tree does not first build
# every test suite in it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norvane-data-viewer)
set(CPACK_PACKAGE_VENDOR "Norvane Data Viewer developers")
set(CPACK_PACKAGE_CONTACT "${NORVANE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer and logger for ZQT radiation counters")
set(CPACK_PACKAGE_DESCRIPTION
    "Downloads, charts and exports the history of the ZQT family of hand-held
radiation counters and radon monitors, monitors live counts and dose rate
once a second with automatic saves and web map submissions, and edits the
counter's configuration, clock and Wi-Fi settings. Includes norvane-viewer
(the window), norvane-cli (the same work without a window), a systemd unit
that logs a counter as a service, and a udev rule for the common USB-serial
bridges.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${NORVANE_HOMEPAGE}")
# Library dependencies are read off the binaries by dpkg-shlibdeps, never listed by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own dialogs in the window's language; the libraries come from shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
