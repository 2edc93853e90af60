# The Debian package: `cpack -G DEB` in a build configured with CMAKE_INSTALL_PREFIX=/usr (the
# Makefile's `package` target does both). Its Depends are computed by dpkg-shlibdeps from the
# programs' own libraries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME modrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Modrin developers")
set(CPACK_PACKAGE_CONTACT "Modrin maintainers <maintainers@users.noreply.c-seed-4f07b3fa.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "image-based 3D modelling from photos")
# One line each, as the package's extended description shows them.
set(CPACK_PACKAGE_DESCRIPTION [=[Modrin builds textured 3D models of buildings and objects from ordinary
photos. The user marks the same scene points in several photos, joins them
with edges and types real coordinates for a few of them; Modrin finds every
camera's pose, computes the 3D points, finds the closed faces and covers
them with the photos themselves. Models are saved as Wavefront OBJ with MTL,
or as VRML 2.0.
This package holds the desktop program modrin and the command-line tool
modrin-cli.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see it: Qt's platform plugins (X11, Wayland),
# without which the window cannot open.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The desktop database and MIME cache are refreshed by Debian's triggers on the folders the
# package installs into; no maintainer scripts are needed.
include(CPack)
