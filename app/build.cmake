# The scrambled string table: the plain texts in app/string_table.txt are
# scrambled at build time into a generated source of bytes, so that the
# program carries none of them as plain text.
if(CMAKE_CROSSCOMPILING)
  quorvax_host_tool(make_string_table)
else()
  add_executable(make_string_table ${CMAKE_SOURCE_DIR}/tools/strings/make_string_table.cpp)
endif()

set(STRING_TABLE_SOURCE ${CMAKE_BINARY_DIR}/generated/string_table_data.cpp)
add_custom_command(
  OUTPUT ${STRING_TABLE_SOURCE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND make_string_table ${CMAKE_SOURCE_DIR}/app/string_table.txt ${STRING_TABLE_SOURCE}
  DEPENDS make_string_table ${CMAKE_SOURCE_DIR}/app/string_table.txt
  COMMENT "Scrambling the string table"
  VERBATIM)
target_sources(quorvax_core PRIVATE ${STRING_TABLE_SOURCE})
