# The lean FFmpeg of the helper's recording program (scripts/lean-ffmpeg):
# static, with only the encoders and muxers a recording uses, built once and
# kept in a cache. Debian's FFmpeg maps about 150 shared libraries, whose
# loading is most of a start; this one maps only libx264 and libx265.
execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/lean-ffmpeg
  OUTPUT_VARIABLE lean_ffmpeg_prefix OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE lean_ffmpeg_status)
if(NOT lean_ffmpeg_status EQUAL 0)
  message(FATAL_ERROR "scripts/lean-ffmpeg failed: the lean FFmpeg is not there "
                      "(or configure without TARSEL_LEAN_FFMPEG)")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_LIBDIR=${lean_ffmpeg_prefix}/lib/pkgconfig
          ${PKG_CONFIG_EXECUTABLE} --static --libs
          libavformat libavcodec libswscale libswresample libavutil
  OUTPUT_VARIABLE lean_ffmpeg_flags OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
separate_arguments(lean_ffmpeg_flags UNIX_COMMAND "${lean_ffmpeg_flags}")
# Its archives by path, so that Debian's libraries of the same names never
# stand in for them.
set(lean_ffmpeg_items)
foreach(flag ${lean_ffmpeg_flags})
  if(flag MATCHES "^-l(avformat|avcodec|swscale|swresample|avutil)$")
    list(APPEND lean_ffmpeg_items ${lean_ffmpeg_prefix}/lib/lib${CMAKE_MATCH_1}.a)
  elseif(NOT flag STREQUAL "-L${lean_ffmpeg_prefix}/lib")
    list(APPEND lean_ffmpeg_items ${flag})
  endif()
endforeach()
add_library(vistrel_lean_ffmpeg INTERFACE)
# Ahead of the system's directory, where Debian's headers are.
target_include_directories(vistrel_lean_ffmpeg SYSTEM BEFORE INTERFACE
  ${lean_ffmpeg_prefix}/include)
target_link_libraries(vistrel_lean_ffmpeg INTERFACE ${lean_ffmpeg_items})
