# Installing Velunta: the bundle keeps its layout under lib/velunta/, so that
# reading its version and swapping it in an update work as in the build tree;
# bin/velunta is a relative link to its program, so a staging root (DESTDIR)
# runs as well as the final one. Then the desktop entry, the icons, the
# AppStream data, the man page and the .deb that CPack makes of all that.
include(GNUInstallDirs)

set(VELUNTA_INSTALL_BUNDLE_DIR "lib/velunta" CACHE STRING "Folder under the prefix that holds Velunta.app")
set(VELUNTA_HOMEPAGE_URL "https://velunta.app" CACHE STRING "Project home page, for the AppStream data")
set(VELUNTA_SCREENSHOT_URL "${VELUNTA_HOMEPAGE_URL}/screenshots/${PROJECT_VERSION}" CACHE STRING
    "Where resources/screenshots/*.png are published, for the AppStream data")
set(VELUNTA_RELEASE_DATE "2026-12-07" CACHE STRING "Release date of this version (YYYY-MM-DD)")
set(VELUNTA_MAINTAINER "Velunta <dev@velunta.app>" CACHE STRING "Package maintainer, name and address")

set(bundle "${VELUNTA_INSTALL_BUNDLE_DIR}/Velunta.app/Contents")
set(linux "${PROJECT_SOURCE_DIR}/resources/linux")
set(staged "${CMAKE_BINARY_DIR}/install-data")

install(TARGETS Velunta RUNTIME DESTINATION "${bundle}/MacOS")
install(TARGETS VeluntaUpdateHelper RUNTIME DESTINATION "${bundle}/Helpers")
install(FILES "${VELUNTA_CONTENTS_DIR}/Info.plist" DESTINATION "${bundle}")
install(DIRECTORY "${VELUNTA_CONTENTS_DIR}/Resources" DESTINATION "${bundle}")
# A signed build carries its signature; a stripped install no longer matches
# it, but only matters where self-updates are configured.
install(DIRECTORY "${VELUNTA_CONTENTS_DIR}/_CodeSignature" DESTINATION "${bundle}" OPTIONAL)

file(RELATIVE_PATH program_from_bin "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${bundle}/MacOS/Velunta")
file(MAKE_DIRECTORY "${staged}")
file(CREATE_LINK "${program_from_bin}" "${staged}/velunta" SYMBOLIC)
install(FILES "${staged}/velunta" DESTINATION "${CMAKE_INSTALL_BINDIR}")

install(FILES "${linux}/${VELUNTA_BUNDLE_ID}.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
configure_file("${linux}/app.velunta.Velunta.metainfo.xml.in" "${staged}/${VELUNTA_BUNDLE_ID}.metainfo.xml" @ONLY)
install(FILES "${staged}/${VELUNTA_BUNDLE_ID}.metainfo.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

# Icons: the SVG, and PNGs rendered from it at build time.
set(icon_svg "${PROJECT_SOURCE_DIR}/resources/app/${VELUNTA_BUNDLE_ID}.svg")
set(icon_sizes 16 24 32 48 64 128 256 512)
set(icon_pngs "")
foreach(size ${icon_sizes})
    list(APPEND icon_pngs "${staged}/hicolor/${size}x${size}/apps/${VELUNTA_BUNDLE_ID}.png")
endforeach()
add_custom_command(OUTPUT ${icon_pngs}
    # A sanitizer build must not fail on what Qt leaves at exit.
    COMMAND "${CMAKE_COMMAND}" -E env ASAN_OPTIONS=detect_leaks=0 $<TARGET_FILE:render-icon> "${icon_svg}"
        "${staged}/hicolor" ${icon_sizes}
    DEPENDS render-icon "${icon_svg}"
    COMMENT "Rendering the application icon")
# Debian wants man pages compressed, without a time stamp.
add_custom_command(OUTPUT "${staged}/velunta.1.gz"
    COMMAND gzip -9nc "${linux}/velunta.1" > "${staged}/velunta.1.gz"
    DEPENDS "${linux}/velunta.1")
add_custom_target(velunta_install_data ALL DEPENDS ${icon_pngs} "${staged}/velunta.1.gz")
install(FILES "${icon_svg}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(DIRECTORY "${staged}/hicolor" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons")
install(FILES "${staged}/velunta.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

# Debian's copyright and changelog files, which every package carries.
set(doc "${CMAKE_INSTALL_DATADIR}/doc/velunta")
configure_file("${linux}/copyright.in" "${staged}/copyright" @ONLY)
install(FILES "${staged}/copyright" DESTINATION "${doc}")
configure_file("${linux}/changelog.in" "${staged}/changelog" @ONLY)
add_custom_command(OUTPUT "${staged}/changelog.gz"
    COMMAND gzip -9nc "${staged}/changelog" > "${staged}/changelog.gz"
    DEPENDS "${staged}/changelog")
add_custom_target(velunta_changelog ALL DEPENDS "${staged}/changelog.gz")
install(FILES "${staged}/changelog.gz" DESTINATION "${doc}")

# The .deb. Libraries linked at build time come from dpkg-shlibdeps; what Qt
# loads at run time (the xcb and wayland platform plugins, the SVG image
# plugin, the QML modules) no linker sees, so it is listed here. Without the
# wayland plugin Qt cannot start at all in a Wayland session.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "velunta")
set(CPACK_PACKAGE_VERSION "${VELUNTA_VERSION}")
set(CPACK_PACKAGE_CONTACT "${VELUNTA_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screenshots and screen recordings with sound")
set(CPACK_PACKAGE_DESCRIPTION
    "Velunta lives in the system tray and on four global shortcuts, Alt+Shift+1 to\n"
    "Alt+Shift+4: PNG screenshots of the screen under the pointer or of a dragged\n"
    "area, and MP4 recordings of the screen or an area with system sound and\n"
    "microphone, all kept in a library. Its interface is in Brazilian Portuguese.\n"
    "It captures in X11 sessions and, through the desktop portals and PipeWire,\n"
    "in Wayland sessions.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VELUNTA_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-wayland, qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-templates, qml6-module-qtquick-layouts, qml6-module-qtquick-window, qml6-module-qtqml, qml6-module-qtqml-models, qml6-module-qtqml-workerscript")
# The portal is how a Wayland session lends its screen and shortcuts; a
# desktop brings its own backend for it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse, xdg-desktop-portal")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
