# The packaged library: the engine with the Linux platform and the FFmpeg
# writer in one library, `Vistrel::Vistrel`, which records on Linux without
# any set-up by the program. Its parts stay libraries of their own, so that
# tests link the engine with another platform.
include(GNUInstallDirs)
include(GenerateExportHeader)
include(CMakePackageConfigHelpers)

set(vistrel_parts
  vistrel_engine vistrel_platform vistrel_platform_ffmpeg vistrel_platform_linux
  vistrel_platform_linux_capture vistrel_platform_linux_query vistrel_platform_linux_x11
  vistrel_platform_linux_pipewire vistrel_platform_linux_wayland vistrel_platform_linux_camera
  vistrel_platform_linux_pulse vistrel_platform_linux_echo vistrel_platform_linux_system)

add_library(vistrel ${PROJECT_SOURCE_DIR}/Sources/Platform/Linux/LinuxDefaultServices.cpp)
add_library(Vistrel::Vistrel ALIAS vistrel)
foreach(part ${vistrel_parts})
  target_sources(vistrel PRIVATE $<TARGET_OBJECTS:${part}>)
  add_dependencies(vistrel ${part})
endforeach()
# This project's own programs (the helper) use the platform interfaces as
# well: they link the parts themselves, statically whatever form the library
# takes, so that a shared library exports the public API alone.
add_library(vistrel_with_platform INTERFACE)
target_link_libraries(vistrel_with_platform INTERFACE ${vistrel_parts})

set_target_properties(vistrel PROPERTIES
  EXPORT_NAME Vistrel
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})
if(BUILD_SHARED_LIBS)
  # Hidden visibility leaves out what we compile; the version script also
  # what the parts instantiate from header-only libraries.
  set(vistrel_version_script ${CMAKE_CURRENT_LIST_DIR}/vistrel.map)
  target_link_options(vistrel PRIVATE LINKER:--version-script=${vistrel_version_script})
  set_property(TARGET vistrel APPEND PROPERTY LINK_DEPENDS ${vistrel_version_script})
endif()

# Vistrel/Export.h: VISTREL_EXPORT marks the public API of a shared build.
set(vistrel_generated_include ${PROJECT_BINARY_DIR}/include)
generate_export_header(vistrel
  BASE_NAME VISTREL
  EXPORT_FILE_NAME ${vistrel_generated_include}/Vistrel/Export.h)
target_include_directories(vistrel_headers INTERFACE ${vistrel_generated_include})
if(NOT BUILD_SHARED_LIBS)
  target_compile_definitions(vistrel_headers INTERFACE VISTREL_STATIC_DEFINE)
  target_compile_definitions(vistrel PUBLIC $<INSTALL_INTERFACE:VISTREL_STATIC_DEFINE>)
endif()
foreach(part ${vistrel_parts})
  target_compile_definitions(${part} PRIVATE vistrel_EXPORTS)
endforeach()

# Installed, the public headers sit in include/Vistrel; they rest on nothing
# but the standard library.
target_include_directories(vistrel PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_compile_features(vistrel PUBLIC cxx_std_20)
target_link_libraries(vistrel
  PUBLIC Threads::Threads $<BUILD_INTERFACE:vistrel_headers>
  PRIVATE PkgConfig::FFMPEG PkgConfig::XCB PkgConfig::PULSE PkgConfig::WEBRTC_AUDIO_PROCESSING
          PkgConfig::SYSTEMD PkgConfig::PIPEWIRE PkgConfig::WAYLAND PkgConfig::JPEG vistrel_libyuv)

option(VISTREL_INSTALL "Install the library, its headers and its CMake and pkg-config files" ON)
if(NOT VISTREL_INSTALL)
  return()
endif()

set(vistrel_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Vistrel)
# Everything of the library is its one install component, `library`.
install(TARGETS vistrel EXPORT VistrelTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/Vistrel ${vistrel_generated_include}/Vistrel
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT library)
install(EXPORT VistrelTargets NAMESPACE Vistrel:: DESTINATION ${vistrel_cmake_dir}
  COMPONENT library)

if(BUILD_SHARED_LIBS)
  set(vistrel_is_static FALSE)
else()
  set(vistrel_is_static TRUE)
endif()
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VistrelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VistrelConfig.cmake
  INSTALL_DESTINATION ${vistrel_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VistrelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VistrelConfig.cmake
  ${PROJECT_BINARY_DIR}/VistrelConfigVersion.cmake
  DESTINATION ${vistrel_cmake_dir} COMPONENT library)

# A static library hands its dependencies to the program that links it; a
# shared one keeps them to itself. They are listed as plain libraries, not as
# required modules: the public headers need none of their headers, and
# `pkg-config --static` would otherwise ask for the static forms of all the
# codecs FFmpeg itself was built with.
set(vistrel_pc_dependencies "")
foreach(module FFMPEG XCB PULSE WEBRTC_AUDIO_PROCESSING SYSTEMD PIPEWIRE WAYLAND JPEG)
  foreach(directory ${${module}_LIBRARY_DIRS})
    if(NOT directory IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES
       AND NOT vistrel_pc_dependencies MATCHES " -L${directory} ")
      string(APPEND vistrel_pc_dependencies " -L${directory}")
    endif()
  endforeach()
  foreach(library ${${module}_LIBRARIES})
    string(APPEND vistrel_pc_dependencies " -l${library}")
  endforeach()
endforeach()
string(APPEND vistrel_pc_dependencies " -lyuv -pthread")
if(BUILD_SHARED_LIBS)
  set(vistrel_pc_libs "")
  set(vistrel_pc_libs_private ${vistrel_pc_dependencies})
  set(vistrel_pc_cflags "")
else()
  set(vistrel_pc_libs ${vistrel_pc_dependencies})
  set(vistrel_pc_libs_private "")
  set(vistrel_pc_cflags "-DVISTREL_STATIC_DEFINE")
endif()
# Relative to the file itself, so that the installed tree can move.
file(RELATIVE_PATH vistrel_pc_prefix_from_pcfiledir
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" vistrel_pc_prefix_from_pcfiledir ${vistrel_pc_prefix_from_pcfiledir})
configure_file(${CMAKE_CURRENT_LIST_DIR}/vistrel.pc.in ${PROJECT_BINARY_DIR}/vistrel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vistrel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT library)
