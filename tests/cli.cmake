# The command line: options read without a display, unattended runs of the
# real program against the real simulator, the manual page against --help.
pollbench_test(test_options test_options.cpp settingstext.h)
target_link_libraries(test_options PRIVATE pollbench_cli)

pollbench_test(test_cli test_cli.cpp simprocess.h modal.h settingstext.h)
target_compile_definitions(test_cli PRIVATE SIM_PATH="$<TARGET_FILE:pollbench-sim>"
  PROGRAM_PATH="$<TARGET_FILE:pollbench>" MAN_PAGE="${PROJECT_SOURCE_DIR}/docs/pollbench.1")
add_dependencies(test_cli pollbench pollbench-sim)

# The real program on the validator built into it.
pollbench_test(test_builtincli test_builtincli.cpp)
target_compile_definitions(test_builtincli PRIVATE PROGRAM_PATH="$<TARGET_FILE:pollbench>")
add_dependencies(test_builtincli pollbench)
