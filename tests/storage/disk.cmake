# The child program of the database-file tests: one connection in a process
# of its own that allocates, writes and releases pages under the locks.
add_executable(vek_disk_child ${CMAKE_CURRENT_SOURCE_DIR}/storage/disk/DiskChild.cpp)
target_link_libraries(vek_disk_child PRIVATE vekrun orvex_options)
add_dependencies(orvex_tests_storage vek_disk_child)
target_compile_definitions(orvex_tests_storage PRIVATE
  VEK_DISK_CHILD="$<TARGET_FILE:vek_disk_child>")
