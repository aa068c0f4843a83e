# The setup program's end-to-end test runs the program itself and the test
# loader of the install run's tests.
add_dependencies(${exe} orvexsetup orvex_test_loader)
target_compile_definitions(${exe} PRIVATE
  ORVEX_SETUP_PROGRAM="$<TARGET_FILE:orvexsetup>"
  ORVEX_SETUP_LOADER="$<TARGET_FILE:orvex_test_loader>")
# The project's own files stand for some files of the distribution.
target_compile_definitions(${exe} PRIVATE ORVEX_PROJECT_DIR="${PROJECT_SOURCE_DIR}")
