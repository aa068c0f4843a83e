# The Qt tests also show the engine's login dialog, and keep their
# screenshots in the build tree.
target_link_libraries(${exe} PRIVATE vekrun)
target_compile_definitions(${exe} PRIVATE ORVEX_FORMSQT_OUTPUT="${CMAKE_CURRENT_BINARY_DIR}")
