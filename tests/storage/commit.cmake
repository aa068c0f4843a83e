# The child program of the commit tests: a connection in a process of its
# own, serving commands or churning through transactions until killed. The
# table it shares with the tests is compiled into both.
add_executable(vek_commit_child
  ${CMAKE_CURRENT_SOURCE_DIR}/storage/commit/CommitChild.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/storage/commit/KVTable.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/storage/tabledef/TableScenario.cpp)
target_link_libraries(vek_commit_child PRIVATE vekrun orvex_options)
target_sources(orvex_tests_storage PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/storage/commit/KVTable.cpp)
add_dependencies(orvex_tests_storage vek_commit_child)
target_compile_definitions(orvex_tests_storage PRIVATE
  VEK_COMMIT_CHILD="$<TARGET_FILE:vek_commit_child>")
