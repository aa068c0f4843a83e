# The child program of the table-definition tests: a connection in a process
# of its own that reads a table written by the test, restructures it and
# reads it again. The scenario it shares with the tests is compiled into both.
add_executable(vek_tabledef_child
  ${CMAKE_CURRENT_SOURCE_DIR}/storage/tabledef/TableDefChild.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/storage/tabledef/TableScenario.cpp)
target_link_libraries(vek_tabledef_child PRIVATE vekrun orvex_options)
target_sources(orvex_tests_storage PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/storage/tabledef/TableScenario.cpp)
add_dependencies(orvex_tests_storage vek_tabledef_child)
target_compile_definitions(orvex_tests_storage PRIVATE
  VEK_TABLEDEF_CHILD="$<TARGET_FILE:vek_tabledef_child>")
