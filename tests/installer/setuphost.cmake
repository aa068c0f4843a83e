# The programs of the install run's end-to-end tests: a small setup program
# hosting the install component, and a minimal self-extracting loader.
add_executable(orvex_setup_host ${CMAKE_CURRENT_SOURCE_DIR}/installer/SetupHost/SetupHost.cpp)
target_link_libraries(orvex_setup_host PRIVATE orvex_installer orvex_options)
add_executable(orvex_test_loader ${CMAKE_CURRENT_SOURCE_DIR}/installer/SetupHost/TestLoader.cpp)
find_package(ZLIB REQUIRED)
target_link_libraries(orvex_test_loader PRIVATE ZLIB::ZLIB orvex_options)
add_dependencies(orvex_tests_installer orvex_setup_host orvex_test_loader)
target_compile_definitions(orvex_tests_installer PRIVATE
  ORVEX_SETUP_HOST="$<TARGET_FILE:orvex_setup_host>"
  ORVEX_TEST_LOADER="$<TARGET_FILE:orvex_test_loader>")
