# Installs Quarrow as a desktop citizen: executable (installed from src/), desktop entry,
# hicolor icons, the MIME package for descriptors and a manual page. An installed Quarrow
# finds "*.brw" known system-wide and so never writes its per-user MIME package.

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

# Debian wants manual pages compressed, without a name or time stamp in the gzip header.
configure_file("${PROJECT_SOURCE_DIR}/dist/quarrow.1.in" "${PROJECT_BINARY_DIR}/man/quarrow.1" @ONLY)
find_program(QUARROW_GZIP gzip)
if(QUARROW_GZIP)
    add_custom_command(
        OUTPUT "${PROJECT_BINARY_DIR}/man/quarrow.1.gz"
        COMMAND "${QUARROW_GZIP}" -9nkf "${PROJECT_BINARY_DIR}/man/quarrow.1"
        DEPENDS "${PROJECT_BINARY_DIR}/man/quarrow.1"
        VERBATIM)
    add_custom_target(quarrow_manpage ALL DEPENDS "${PROJECT_BINARY_DIR}/man/quarrow.1.gz")
    install(FILES "${PROJECT_BINARY_DIR}/man/quarrow.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
else()
    install(FILES "${PROJECT_BINARY_DIR}/man/quarrow.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
endif()
