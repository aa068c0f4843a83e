# The child program of the block-interface tests: one connection in a
# process of its own that allocates, rewrites and releases blocks of the
# global free chain.
add_executable(vek_interface_child ${CMAKE_CURRENT_SOURCE_DIR}/storage/interface/InterfaceChild.cpp)
target_link_libraries(vek_interface_child PRIVATE vekrun orvex_options)
add_dependencies(orvex_tests_storage vek_interface_child)
target_compile_definitions(orvex_tests_storage PRIVATE
  VEK_INTERFACE_CHILD="$<TARGET_FILE:vek_interface_child>")
