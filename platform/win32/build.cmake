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
    target_sources(quorvax PRIVATE ${WIN32_RESOURCE_SCRIPT})
  endif()
  target_link_libraries(quorvax PRIVATE quorvax_core platform_win32)
  set_target_properties(quorvax PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

  # Checks of the window side on a real Win32 system (run under Wine by
  # platform/win32/check/run_win32_window_check.sh).
  add_executable(win32_window_check ${CMAKE_SOURCE_DIR}/platform/win32/check/win32_window_check.cpp)
  target_link_libraries(win32_window_check PRIVATE platform_win32)
  set_target_properties(win32_window_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
