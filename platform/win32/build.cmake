# The Windows backend and program (cross build only, see
# toolchain-mingw-i686.cmake).
#   platform/win32/io/   files, clock, sockets, paths and text conversion:
#                        everything a program without a window needs (the
#                        list tool links only this)
#   platform/win32/      the window, input, clipboard, shell, tray, text
#                        drawing and the running-instance request
file(GLOB WIN32_IO_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/io/*.cpp)
add_library(platform_win32_io STATIC ${WIN32_IO_SOURCES})
target_include_directories(platform_win32_io PUBLIC ${CMAKE_SOURCE_DIR})
# Unicode (W) calls throughout; nothing older than Windows XP is asked for.
target_compile_definitions(platform_win32_io PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                           _WIN32_WINNT=0x0501)
target_link_libraries(platform_win32_io PUBLIC ws2_32 kernel32)

# The I/O layer's own check, run under Wine by tests/win32/test_win32_io.sh.
add_executable(win32_io_check EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/win32/win32_io_check.cpp)
target_link_libraries(win32_io_check PRIVATE platform_win32_io)
set_target_properties(win32_io_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

file(GLOB WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/*.cpp)
if(WIN32_SOURCES)
  add_library(platform_win32 STATIC ${WIN32_SOURCES})
  target_link_libraries(platform_win32 PUBLIC platform_win32_io user32 gdi32 shell32 ole32
                        comctl32 msimg32)

  set(WIN32_RESOURCE_SCRIPT ${CMAKE_SOURCE_DIR}/platform/win32/resources/quorvax.rc)
  add_executable(quorvax WIN32 ${CMAKE_SOURCE_DIR}/app/main.cpp)
  if(EXISTS ${WIN32_RESOURCE_SCRIPT})
    enable_language(RC)
    # The skin's run words and the two icons as files for the resource
    # compiler, encoded from the committed pictures by the (native) encoder.
    set(WIN32_RESOURCE_FILES_DIR ${CMAKE_BINARY_DIR}/generated/win32)
    set(WIN32_RESOURCE_FILES ${WIN32_RESOURCE_FILES_DIR}/skin.bin
        ${WIN32_RESOURCE_FILES_DIR}/icon_window.ico ${WIN32_RESOURCE_FILES_DIR}/icon_tray.ico)
    set(WIN32_PICTURES ${CMAKE_SOURCE_DIR}/resources/skin.png
        ${CMAKE_SOURCE_DIR}/resources/icon_window.png ${CMAKE_SOURCE_DIR}/resources/icon_tray.png)
    add_custom_command(
      OUTPUT ${WIN32_RESOURCE_FILES}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${WIN32_RESOURCE_FILES_DIR}
      COMMAND quorvax_skin_encode --files ${WIN32_PICTURES} ${WIN32_RESOURCE_FILES_DIR}
      DEPENDS quorvax_skin_encode ${WIN32_PICTURES}
      COMMENT "Encoding the skin and icons as resource files"
      VERBATIM)
    add_custom_target(quorvax_resource_files DEPENDS ${WIN32_RESOURCE_FILES})
    set_source_files_properties(${WIN32_RESOURCE_SCRIPT} PROPERTIES OBJECT_DEPENDS
      "${WIN32_RESOURCE_FILES};${CMAKE_SOURCE_DIR}/platform/win32/resources/quorvax.manifest")
    # Links the resources into a program of the build.
    function(quorvax_win32_resources target)
      target_sources(${target} PRIVATE ${WIN32_RESOURCE_SCRIPT})
      target_include_directories(${target} PRIVATE ${WIN32_RESOURCE_FILES_DIR}
                                 ${CMAKE_SOURCE_DIR}/platform/win32/resources)
      add_dependencies(${target} quorvax_resource_files)
    endfunction()
    quorvax_win32_resources(quorvax)
  endif()
  target_link_libraries(quorvax PRIVATE quorvax_core platform_win32)
  set_target_properties(quorvax PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

  # Checks of the window side on a real Win32 system (run under Wine by
  # platform/win32/check/run_win32_window_check.sh).
  add_executable(win32_window_check ${CMAKE_SOURCE_DIR}/platform/win32/check/win32_window_check.cpp)
  target_link_libraries(win32_window_check PRIVATE platform_win32)
  set_target_properties(win32_window_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()

# The backend's own checks, run under Wine by
# platform/win32/check/run_win32_shell_check.sh (built on demand:
# bash tools/build_win32.sh win32_shell_check).
if(WIN32_SOURCES AND EXISTS ${WIN32_RESOURCE_SCRIPT})
  add_executable(win32_shell_check EXCLUDE_FROM_ALL
    ${CMAKE_SOURCE_DIR}/platform/win32/check/win32_shell_check.cpp
    ${CMAKE_SOURCE_DIR}/tools/skin/png_read.cpp)
  target_compile_definitions(win32_shell_check PRIVATE QUORVAX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  target_link_libraries(win32_shell_check PRIVATE platform_win32)
  quorvax_win32_resources(win32_shell_check)
  set_target_properties(win32_shell_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
