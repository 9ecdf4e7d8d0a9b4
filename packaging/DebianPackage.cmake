# The Debian package: `cmake --build build --target package` (or scripts/package.sh) writes
# build/deb/vorn-firmware-updater_<version>_amd64.deb from the programs already built in build/.
#
# The app carries the delivered firmware package appended to its executable, and stripping drops
# anything after the last ELF section. So the packaged copy is stripped here first, the archive is
# appended to it afterwards, and CPack is told not to strip again.
include(GNUInstallDirs)

set(VFU_APP_ID "com.vorn.QuillboxFirmwareUpdater")
set(VFU_INSTALLED_APP_NAME "quillbox-firmware-updater")
# The vendor's public addresses: the metadata names the homepage <website>/quillbox-firmware-updater
# and the screenshot <homepage>/main-window.png, which is packaging/screenshots/main-window.png
# (made with the app's --simulate --exit-when-done --screenshot FILE).
set(VFU_VENDOR_WEBSITE "https://vorn.example" CACHE STRING "Web address of the vendor, without a trailing slash")
set(VFU_PACKAGE_MAINTAINER "Vorn <firmware-updater@vorn.example>" CACHE STRING "Maintainer of the Debian package")

set(VFU_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VFU_STAGE_DIR ${CMAKE_BINARY_DIR}/package-files)

# The changelog's latest entry gives the release recorded in the AppStream metadata.
file(READ ${VFU_PACKAGING_DIR}/changelog VFU_CHANGELOG)
string(REGEX MATCH "^[a-z0-9.+-]+ \\(([^)]+)\\)" _ "${VFU_CHANGELOG}")
set(VFU_CHANGELOG_VERSION "${CMAKE_MATCH_1}")
string(REGEX MATCH "\n -- [^\n]*>  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9])" _ "${VFU_CHANGELOG}")
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND _months "${CMAKE_MATCH_2}" _month)
if(VFU_CHANGELOG_VERSION STREQUAL "" OR _month LESS 0)
    message(FATAL_ERROR "packaging/changelog: cannot read the version and date of its latest entry")
endif()
math(EXPR _month "${_month} + 1")
if(_month LESS 10)
    set(_month "0${_month}")
endif()
set(VFU_CHANGELOG_DATE "${CMAKE_MATCH_3}-${_month}-${CMAKE_MATCH_1}")
if(NOT VFU_CHANGELOG_VERSION STREQUAL PROJECT_VERSION)
    message(WARNING "packaging/changelog's latest entry is ${VFU_CHANGELOG_VERSION} but the project is "
                    "${PROJECT_VERSION}: add an entry for this version before building the package")
endif()

# Full RELRO for the shipped programs, as Debian's hardening checks ask; a link flag only, so
# nothing is compiled again.
target_link_options(VornFirmwareUpdater PRIVATE LINKER:-z,relro,-z,now)
target_link_options(vfu PRIVATE LINKER:-z,relro,-z,now)

configure_file(${VFU_PACKAGING_DIR}/${VFU_APP_ID}.metainfo.xml.in ${VFU_STAGE_DIR}/${VFU_APP_ID}.metainfo.xml @ONLY)

# The programs, stripped as Debian ships them; the app gets its firmware archive back and is
# checked to offer exactly the delivered version.
find_program(VFU_STRIP NAMES strip REQUIRED)
set(VFU_STRIP_ARGS --remove-section=.comment --remove-section=.note)
set(VFU_STAGED_APP ${VFU_STAGE_DIR}/${VFU_INSTALLED_APP_NAME})
set(VFU_STAGED_TOOL ${VFU_STAGE_DIR}/vfu)

add_custom_command(OUTPUT ${VFU_STAGED_APP}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:VornFirmwareUpdater> ${VFU_STAGED_APP}
    COMMAND ${VFU_STRIP} ${VFU_STRIP_ARGS} ${VFU_STAGED_APP}
    COMMAND vfu_bundle program ${VFU_STAGED_APP} ${VFU_BUNDLE_SIGNING_ARGS}
    DEPENDS VornFirmwareUpdater vfu_bundle
    COMMENT "Stripping the app for the package and appending the delivered firmware package again"
    VERBATIM)

add_custom_command(OUTPUT ${VFU_STAGED_TOOL}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vfu> ${VFU_STAGED_TOOL}
    COMMAND ${VFU_STRIP} ${VFU_STRIP_ARGS} ${VFU_STAGED_TOOL}
    DEPENDS vfu
    COMMENT "Stripping vfu for the package"
    VERBATIM)

# The icon theme's bitmaps are drawn from the scalable icon.
set(VFU_ICON_SVG ${VFU_PACKAGING_DIR}/icons/${VFU_INSTALLED_APP_NAME}.svg)
set(VFU_ICON_SIZES 48 128 256)
set(VFU_STAGED_ICONS)
foreach(size ${VFU_ICON_SIZES})
    set(png ${VFU_STAGE_DIR}/icons/${size}x${size}/${VFU_APP_ID}.png)
    add_custom_command(OUTPUT ${png}
        COMMAND vfu_icon ${VFU_ICON_SVG} ${size} ${png}
        DEPENDS vfu_icon ${VFU_ICON_SVG}
        COMMENT "Drawing the ${size} px icon"
        VERBATIM)
    list(APPEND VFU_STAGED_ICONS ${png})
endforeach()

# Manual pages and the changelog, compressed as Debian wants them (no name, no time stamp).
set(VFU_STAGED_GZIPPED)
foreach(source man/vfu.1 man/${VFU_INSTALLED_APP_NAME}.1 changelog)
    get_filename_component(name ${source} NAME)
    set(copy ${VFU_STAGE_DIR}/${name})
    add_custom_command(OUTPUT ${copy}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${VFU_PACKAGING_DIR}/${source} ${copy}
        COMMAND gzip -9nf ${copy}
        DEPENDS ${VFU_PACKAGING_DIR}/${source}
        VERBATIM)
    list(APPEND VFU_STAGED_GZIPPED ${copy}.gz)
endforeach()

# Part of every build, so `package` (which builds everything first) finds them ready.
add_custom_target(vfu_package_files ALL
    DEPENDS ${VFU_STAGED_APP} ${VFU_STAGED_TOOL} ${VFU_STAGED_ICONS} ${VFU_STAGED_GZIPPED})

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(PROGRAMS ${VFU_STAGED_APP} ${VFU_STAGED_TOOL} DESTINATION ${CMAKE_INSTALL_BINDIR})
# The installed copy itself must still offer exactly the delivered firmware.
install(CODE "
    set(installed \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${VFU_INSTALLED_APP_NAME}\")
    execute_process(COMMAND \"$<TARGET_FILE:vfu_bundle>\" verify \"\${installed}\" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR \"The installed app does not offer exactly the delivered firmware: \${installed}\")
    endif()")

install(FILES ${VFU_PACKAGING_DIR}/${VFU_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VFU_STAGE_DIR}/${VFU_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${VFU_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${VFU_APP_ID}.svg)
foreach(size ${VFU_ICON_SIZES})
    install(FILES ${VFU_STAGE_DIR}/icons/${size}x${size}/${VFU_APP_ID}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${VFU_STAGE_DIR}/vfu.1.gz ${VFU_STAGE_DIR}/${VFU_INSTALLED_APP_NAME}.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VFU_PACKAGING_DIR}/copyright ${VFU_STAGE_DIR}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vorn-firmware-updater)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorn-firmware-updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Vorn)
set(CPACK_PACKAGE_CONTACT "${VFU_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/deb)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VFU_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VFU_VENDOR_WEBSITE}/quillbox-firmware-updater")
# dpkg-shlibdeps finds the libraries the programs link; JUCE opens the X11 libraries with dlopen
# at run time, which it cannot see: libX11 and libXext are required for any window, the other
# extensions are used when present. A sans-serif font JUCE looks for draws the menus and buttons
# (the panel has its own embedded font). shlibdeps' list is appended to these.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libx11-6, libxext6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libxcursor1, libxinerama1, libxrandr2, libxrender1, fonts-dejavu-core")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "firmware updater for the Vorn Quillbox synthesizer
Finds a Quillbox connected over USB-MIDI, shows its firmware next to the
version the updater carries (2.2.1), and installs the new firmware: it erases
the instrument in its bootloader and streams the firmware as paced SysEx
messages. A demonstration mode plays a whole update against a simulated
instrument. Also contains vfu, the command-line companion for checking
update definitions and firmware packages.")

include(CPack)
