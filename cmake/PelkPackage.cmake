# The Linux desktop installation and its Debian package (cpack -G DEB, see scripts/package.sh).
# Included at the end of the top-level CMakeLists.txt, once every executable target is defined.

# The version is the project's; the software centre's release list must name it as its newest
# release, or the installed metadata would describe another version than the one installed.
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/linux/com.quellor.PelkUpdater.metainfo.xml pelk_release_lines
     REGEX "<release version=")
list(GET pelk_release_lines 0 pelk_newest_release)
string(REGEX MATCH "version=\"([^\"]+)\"" pelk_release_quoted "${pelk_newest_release}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "project(VERSION ${PROJECT_VERSION}) is not the newest release of "
                      "resources/linux/com.quellor.PelkUpdater.metainfo.xml (${CMAKE_MATCH_1})")
endif()

# What a desktop installation runs: the window, and the command-line updater where it is built.
set(PELK_INSTALLED_PROGRAMS pelk-updater)
if(TARGET pelk-cli)
  list(APPEND PELK_INSTALLED_PROGRAMS pelk-cli)
endif()
install(TARGETS ${PELK_INSTALLED_PROGRAMS} RUNTIME DESTINATION bin)
add_custom_target(installed-programs)
add_dependencies(installed-programs ${PELK_INSTALLED_PROGRAMS})

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/PelkWindowsPackage.cmake)
  return()
endif()
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

# The menu entry, its icon and the AppStream metadata share one application id, which is also the
# desktop file name the program announces to the window manager. The udev rule lets the user at the
# seat open the devices' hidraw nodes; udev reads rules from /usr/lib/udev/rules.d and
# /etc/udev/rules.d, not from /usr/local: install with --prefix /usr, or point PELK_UDEV_RULES_DIR at
# /etc/udev/rules.d.
set(PELK_APP_ID com.quellor.PelkUpdater)
install(FILES resources/linux/${PELK_APP_ID}.desktop DESTINATION share/applications)
install(FILES resources/images/updater_icon_256.png DESTINATION share/icons/hicolor/256x256/apps
        RENAME ${PELK_APP_ID}.png)
install(FILES resources/linux/${PELK_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES resources/linux/70-pelk-updater.rules DESTINATION ${PELK_UDEV_RULES_DIR})

foreach(script postinst postrm)
  set(PELK_MAINTSCRIPT ${script})
  if(script STREQUAL postinst)
    set(PELK_MAINTSCRIPT_ACTION configure)
  else()
    set(PELK_MAINTSCRIPT_ACTION remove)
  endif()
  configure_file(resources/linux/debian/maintscript.in ${PROJECT_BINARY_DIR}/debian/${script} @ONLY)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelk-updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quellor)
set(CPACK_PACKAGE_CONTACT "Quellor <support@quellor.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware and sound data updater for the Quellor Pelk and Pelk+")
set(CPACK_PACKAGE_DESCRIPTION
    "Pelk Updater finds a Pelk or Pelk+ connected by USB, shows the versions of its\n\
MCU firmware, DSP firmware, Styles and Ensemble Audio data, fetches the update\n\
catalogue and installs what is newer. A udev rule gives the user at the seat\n\
access to the devices.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quellor.com/")
# Libraries the binaries link come from dpkg-shlibdeps; what is only used at run time is recommended:
# udev applies the rule, xdg-open opens the download page of a newer updater, logind keeps the
# computer awake during an update. The Wayland platform plug-in is only needed without XWayland.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Named as well, for a build whose shlibdeps run cannot see it: update bundles are read with it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libarchive13")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, xdg-utils, default-logind | logind")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qtwayland5")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/postinst ${PROJECT_BINARY_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
