# SPDX-License-Identifier: GPL-3.0-or-later
# Debian package through CPack: "cpack -G DEB" in a build folder. The architecture comes from
# dpkg, the library dependencies from dpkg-shlibdeps; Debian's triggers refresh the MIME and
# icon caches, so the package carries no maintainer scripts.

set(CPACK_PACKAGE_NAME "quarrow")
set(CPACK_PACKAGE_VENDOR "Quarrow developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "browse the applications stored on a disc or drive")
# CPack does not wrap the extended description, hence the explicit line breaks.
set(CPACK_PACKAGE_DESCRIPTION
    "Quarrow walks a distribution disc, a disc image or a software archive for\n\
application descriptors (.brw files), lists the applications it finds in a\n\
tree under their categories and, for the selected application, shows its\n\
description and its files. A double-click on a file opens it with the\n\
desktop's default application.")
set(CPACK_PACKAGE_CONTACT "Quarrow developers <dev@quarrow.invalid>")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the platform plugins, the SVG
# image plugin for our pictures, and the MIME database for file types.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, shared-mime-info")
# File-type icons come from the theme; without one every file shows the same picture.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "adwaita-icon-theme | breeze-icon-theme, hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
