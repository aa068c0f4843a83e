# The child program of the connection tests: one connection in a process of
# its own, driven by commands on its standard input (see conn/ConnScenario.h).
add_executable(vek_conn_child
  ${CMAKE_CURRENT_SOURCE_DIR}/dataset/conn/ConnChild.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dataset/conn/ConnScenario.cpp)
target_include_directories(vek_conn_child PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/dataset/conn)
target_link_libraries(vek_conn_child PRIVATE vekrun orvex_options)
target_sources(orvex_tests_dataset PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/dataset/conn/ConnScenario.cpp)
target_include_directories(orvex_tests_dataset PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/dataset/conn)
add_dependencies(orvex_tests_dataset vek_conn_child)
target_compile_definitions(orvex_tests_dataset PRIVATE
  VEK_CONN_CHILD="$<TARGET_FILE:vek_conn_child>")
target_sources(orvex_tests_dataset PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/host/DatasetTestTable.cpp)
