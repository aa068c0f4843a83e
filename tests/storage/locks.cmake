# The child program of the lock-manager tests: one database connection in a
# process of its own, driven by commands on its standard input.
add_executable(vek_lock_child ${CMAKE_CURRENT_SOURCE_DIR}/storage/locks/LockChild.cpp)
target_link_libraries(vek_lock_child PRIVATE vekrun orvex_options)
add_dependencies(orvex_tests_storage vek_lock_child)
target_compile_definitions(orvex_tests_storage PRIVATE
  VEK_LOCK_CHILD="$<TARGET_FILE:vek_lock_child>")
