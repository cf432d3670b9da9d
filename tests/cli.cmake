# The command line: options read without a display, unattended runs of the
# real program against the real simulator, the manual page against --help.
pollbench_test(test_options test_options.cpp settingstext.h)
target_link_libraries(test_options PRIVATE pollbench_cli)
# The run's progress line, summary and report as pure functions.
pollbench_test(test_runreport test_runreport.cpp)
target_link_libraries(test_runreport PRIVATE pollbench_cli)

pollbench_test(test_cli test_cli.cpp filebytes.h outcome.h simprocess.h modal.h settingstext.h)
target_compile_definitions(test_cli PRIVATE SIM_PATH="$<TARGET_FILE:pollbench-sim>"
  PROGRAM_PATH="$<TARGET_FILE:pollbench>" MAN_PAGE="${PROJECT_SOURCE_DIR}/docs/pollbench.1")
add_dependencies(test_cli pollbench pollbench-sim)

# The files an unattended run writes, through the real program: refused
# paths, a disk that fills, two runs on one record, the signals that end it.
if(UNIX)
  pollbench_test(test_outputs test_outputs.cpp csvread.h filebytes.h outcome.h simprocess.h specialfiles.h)
  target_compile_definitions(test_outputs PRIVATE SIM_PATH="$<TARGET_FILE:pollbench-sim>"
    PROGRAM_PATH="$<TARGET_FILE:pollbench>")
  add_dependencies(test_outputs pollbench pollbench-sim)
endif()
# The real program on the validator built into it.
pollbench_test(test_builtincli test_builtincli.cpp outcome.h)
target_compile_definitions(test_builtincli PRIVATE PROGRAM_PATH="$<TARGET_FILE:pollbench>")
add_dependencies(test_builtincli pollbench)
