# The unit tests under Windows: GoogleTest built from Debian's sources
# (googletest package), the core, the test backend (platform/fake/) on the
# Windows I/O layer, and the tests that need neither POSIX nor a helper
# process on the Linux side.  tools/build_win32.sh --tests builds it,
# tests/win32/run_win32_checks.sh runs it under Wine.
#
# The fake wraps some real operations (files it can make fail, connects it
# can script, the clock it can hold still) and takes them from posix_io.h's
# names.  Here those names lead to the Windows I/O layer compiled a second
# time with exactly those operations renamed win32_under_*, so the fake's
# own plat_* versions and the layer's live side by side in one program;
# everything else (reads, seeks, sends, ...) is the layer's own.  The fake
# starts no network, so it stops none either: plat_net_stop is the
# shim's, and Winsock, started at the first socket call, stays up for the
# whole test program (as the POSIX layer has nothing to stop).
set(QUORVAX_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${QUORVAX_GOOGLETEST_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources at ${QUORVAX_GOOGLETEST_DIR} (package googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QUORVAX_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

enable_testing()

set(QUORVAX_FAKE_WRAPPED plat_tick plat_open_existing_rw plat_create_new_rw plat_write
    plat_write_at plat_net_start plat_resolve plat_tcp_connect plat_tcp_connect_start
    plat_connect_result plat_recv plat_net_stop)
set(QUORVAX_FAKE_RENAMES "")
foreach(name ${QUORVAX_FAKE_WRAPPED})
  string(REPLACE "plat_" "win32_under_" under ${name})
  list(APPEND QUORVAX_FAKE_RENAMES "${name}=${under}")
endforeach()
add_library(platform_win32_io_under STATIC ${WIN32_IO_SOURCES})
target_include_directories(platform_win32_io_under PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(platform_win32_io_under PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                           _WIN32_WINNT=0x0501 PRIVATE ${QUORVAX_FAKE_RENAMES})
target_link_libraries(platform_win32_io_under PUBLIC ws2_32 kernel32)

file(GLOB FAKE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/fake/*.cpp)
add_library(platform_fake STATIC ${FAKE_SOURCES} ${CMAKE_SOURCE_DIR}/tests/win32/fake_io_win32.cpp)
target_include_directories(platform_fake PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(platform_fake PUBLIC platform_win32_io_under)

# The tests that build and run here.  Left out, and why:
#   platform/test_posix_*        the POSIX layer itself (OpenSSL included)
#   platform/test_fake_tls       reads the far end of scripted connects
#                                with POSIX socket calls
#   listfile/test_listfile       mallinfo2 (glibc) for its allocation check
#   listfile/test_list_tool      runs the Linux list tool (fork, wait status)
#   engine/test_engine_step, engine/test_items, ui/test_settings,
#   ui/test_item_actions, web/test_fetch, web/test_probe, web/test_request
#                                poll(), setrlimit(), mkdir(path, mode) and
#                                descriptors read and written directly
#   engine/test_engine_web, web/test_testweb
#                                the demo web, a Python process on the
#                                Linux side (support/testweb.cpp)
set(QUORVAX_WIN32_TEST_SOURCES
  app/test_startup.cpp app/test_strings.cpp
  display/test_draw.cpp display/test_layout.cpp display/test_paint.cpp
  display/test_refresh.cpp display/test_skin.cpp
  engine/test_download_table.cpp engine/test_size_text.cpp engine/test_transfer.cpp
  platform/test_fake_platform.cpp
  ui/test_clipboard.cpp ui/test_refresh.cpp ui/test_scroll.cpp ui/test_window_proc.cpp
  web/test_address.cpp web/test_page_media.cpp web/test_rules.cpp web/test_text.cpp)
list(TRANSFORM QUORVAX_WIN32_TEST_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/tests/)
add_executable(quorvax_tests ${QUORVAX_WIN32_TEST_SOURCES}
               ${CMAKE_SOURCE_DIR}/tests/win32/temp_dir_win32.cpp
               ${CMAKE_SOURCE_DIR}/tests/support/file_bytes.cpp
               ${CMAKE_SOURCE_DIR}/tests/win32/seam_connection_win32.cpp
               ${CMAKE_SOURCE_DIR}/tests/support/seam_run_in.cpp)
target_include_directories(quorvax_tests PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(quorvax_tests PRIVATE quorvax_core platform_fake gtest_main)
# The source tree as the Windows program sees it: drive Z: is the root of
# the Linux file system in every Wine prefix.
set(QUORVAX_SOURCE_DIR_WINDOWS "Z:${CMAKE_SOURCE_DIR}")
target_compile_definitions(quorvax_tests PRIVATE
  QUORVAX_SOURCE_DIR="${QUORVAX_SOURCE_DIR_WINDOWS}" QUORVAX_BINARY_DIR="Z:${CMAKE_BINARY_DIR}")
set_target_properties(quorvax_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
