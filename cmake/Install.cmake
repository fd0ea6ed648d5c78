# SPDX-License-Identifier: GPL-3.0-or-later
# Installs Quarrow as a desktop citizen: executable (installed from src/), desktop entry,
# hicolor icons, the MIME package for descriptors, AppStream metadata, a manual page and
# the documents Debian asks for (copyright, changelog). An installed Quarrow finds "*.brw"
# known system-wide and so never writes its per-user MIME package.

include(GNUInstallDirs)

set(QUARROW_ICON_SIZES 16 22 24 32 48 64 128 256)
set(_quarrow_icon_root "${PROJECT_BINARY_DIR}/icons/hicolor")
set(_quarrow_icon_small "${PROJECT_SOURCE_DIR}/res/icons/quarrow-16.svg")
set(_quarrow_icon_large "${PROJECT_SOURCE_DIR}/res/icons/quarrow.svg")

set(_quarrow_icon_pngs "")
foreach(size IN LISTS QUARROW_ICON_SIZES)
    list(APPEND _quarrow_icon_pngs "${_quarrow_icon_root}/${size}x${size}/apps/quarrow.png")
endforeach()

add_custom_command(
    OUTPUT ${_quarrow_icon_pngs}
    COMMAND quarrow_render_icon "${_quarrow_icon_small}" "${_quarrow_icon_large}"
            "${_quarrow_icon_root}" ${QUARROW_ICON_SIZES}
    DEPENDS quarrow_render_icon "${_quarrow_icon_small}" "${_quarrow_icon_large}"
    COMMENT "Rendering the program icon to PNG"
    VERBATIM)
add_custom_target(quarrow_icons ALL DEPENDS ${_quarrow_icon_pngs})

foreach(size IN LISTS QUARROW_ICON_SIZES)
    install(FILES "${_quarrow_icon_root}/${size}x${size}/apps/quarrow.png"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()
install(FILES "${_quarrow_icon_large}"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")

install(FILES "${PROJECT_SOURCE_DIR}/dist/quarrow.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${PROJECT_SOURCE_DIR}/dist/x-quarrow-descriptor.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/mime/packages")

set(_quarrow_docdir "${CMAKE_INSTALL_DATADIR}/doc/quarrow")
install(FILES "${PROJECT_SOURCE_DIR}/dist/invalid.quarrow.quarrow.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${PROJECT_SOURCE_DIR}/dist/copyright" "${PROJECT_SOURCE_DIR}/README.md"
        DESTINATION "${_quarrow_docdir}")

# Debian wants manual pages and changelogs compressed, without a name or time stamp in the
# gzip header, so that every build of a version gives the same bytes.
find_program(QUARROW_GZIP gzip)
function(quarrow_install_gzipped file destination)
    get_filename_component(name "${file}" NAME)
    if(QUARROW_GZIP)
        add_custom_command(
            OUTPUT "${file}.gz"
            COMMAND "${QUARROW_GZIP}" -9nkf "${file}"
            DEPENDS "${file}"
            VERBATIM)
        add_custom_target(quarrow_gzip_${name} ALL DEPENDS "${file}.gz")
        install(FILES "${file}.gz" DESTINATION "${destination}")
    else()
        install(FILES "${file}" DESTINATION "${destination}")
    endif()
endfunction()

configure_file("${PROJECT_SOURCE_DIR}/dist/quarrow.1.in" "${PROJECT_BINARY_DIR}/man/quarrow.1" @ONLY)
quarrow_install_gzipped("${PROJECT_BINARY_DIR}/man/quarrow.1" "${CMAKE_INSTALL_MANDIR}/man1")
configure_file("${PROJECT_SOURCE_DIR}/dist/changelog" "${PROJECT_BINARY_DIR}/doc/changelog" COPYONLY)
quarrow_install_gzipped("${PROJECT_BINARY_DIR}/doc/changelog" "${_quarrow_docdir}")
