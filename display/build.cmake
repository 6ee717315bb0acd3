# The skin and the icons: the committed pictures in resources/ are encoded at
# build time into a generated source of run words and pixel arrays, compiled
# into quorvax_resources.  The build needs only a C++ compiler for this; the
# pictures themselves are drawn by tools/skin/skin_generator (Qt), which is
# run by hand when the design changes, never by the build.
if(CMAKE_CROSSCOMPILING)
  quorvax_host_tool(quorvax_skin_encode)
else()
  add_executable(quorvax_skin_encode
    ${CMAKE_SOURCE_DIR}/tools/skin/skin_encode.cpp
    ${CMAKE_SOURCE_DIR}/tools/skin/png_read.cpp)
  target_include_directories(quorvax_skin_encode PRIVATE ${CMAKE_SOURCE_DIR})
endif()

set(SKIN_PICTURES
  ${CMAKE_SOURCE_DIR}/resources/skin.png
  ${CMAKE_SOURCE_DIR}/resources/icon_window.png
  ${CMAKE_SOURCE_DIR}/resources/icon_tray.png)
set(SKIN_DATA_SOURCE ${CMAKE_BINARY_DIR}/generated/skin_data.cpp)
add_custom_command(
  OUTPUT ${SKIN_DATA_SOURCE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND quorvax_skin_encode ${SKIN_PICTURES} ${SKIN_DATA_SOURCE}
  DEPENDS quorvax_skin_encode ${SKIN_PICTURES}
  COMMENT "Encoding the skin and icons"
  VERBATIM)
add_custom_target(quorvax_skin_data DEPENDS ${SKIN_DATA_SOURCE})

# The PNG reader goes into the resources library too: the program never
# calls it (so the linker leaves it out), the tests compare the encoded skin
# with its picture through it.
# The Windows program takes them from its executable's resources instead
# (platform/win32/build.cmake).
if(NOT QUORVAX_SKIN_IN_EXECUTABLE)
  target_sources(quorvax_resources PRIVATE ${SKIN_DATA_SOURCE} ${CMAKE_SOURCE_DIR}/tools/skin/png_read.cpp)
  add_dependencies(quorvax_resources quorvax_skin_data)
endif()
