# The Debian package (`./dev.sh package`, or `cpack` in a build folder): the
# install rules as they are, below /usr, with the runtime libraries found by
# dpkg-shlibdeps as dependencies.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pixhold)
set(CPACK_PACKAGE_VENDOR Norvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Norvane <packages@norvane.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps pictures inside databases")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.norvane.com/pixhold/)
# The long description; CPack puts the summary line before it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Pixhold keeps picture files inside databases instead of loose files on disk:
import folder trees of pictures (GIF, JPEG, PNG, BMP, ICO, WMF, EMF), sort
them into categories, browse them as thumbnails, view, crop, rotate, convert
and export them, and keep several picture databases, optionally
password-protected, side by side.
.
The package also holds pixhold-db, a command-line utility that looks into and
changes the databases.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see it: Qt's platform plugins
# (X11 and Wayland).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, fonts-dejavu-core | fonts-liberation2")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
