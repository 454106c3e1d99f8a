# Debian packages, made with `cpack` in a configured build directory: the
# helper (`tarsel-helper`) and, from a shared build (BUILD_SHARED_LIBS), the
# library with its headers and its CMake and pkg-config files
# (`libvistrel-dev`). Their run-time dependencies are what dpkg-shlibdeps
# finds the packaged programs and libraries linked with.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarsel-helper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tarsel-helper developers <tarsel-helper@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION video)

set(CPACK_COMPONENTS_ALL "")
if(TARSEL_BUILD_HELPER)
  list(APPEND CPACK_COMPONENTS_ALL helper)
endif()
# A static library's users link its dependencies' own -dev packages, which
# dpkg-shlibdeps cannot name: only a shared one is packaged.
if(VISTREL_INSTALL AND BUILD_SHARED_LIBS)
  list(APPEND CPACK_COMPONENTS_ALL library)
endif()

set(CPACK_DEBIAN_HELPER_PACKAGE_NAME tarsel-helper)
set(CPACK_DEBIAN_HELPER_PACKAGE_SECTION video)
set(CPACK_COMPONENT_HELPER_DESCRIPTION
  "Window and sound recorder run by a meeting application\n\
The command-line helper of a desktop meeting-recording application: it lists\n\
the windows and audio input devices as JSON and records one window with the\n\
system's sound and a microphone into a movie file until it is signalled.")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libvistrel-dev)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
  "Vistrel, the screen and sound recording library (development files)\n\
Records a display, a window, sound only or a capture device into MP4, MOV,\n\
M4V or M4A files, with pause and resume; the shared library, its headers and\n\
its CMake and pkg-config files.")

include(CPack)
