# the virtual validator, alone and end to end with the tester
pollbench_test(test_sim test_sim.cpp)
target_link_libraries(test_sim PRIVATE pollbench_sim)

# The real simulator program over a pseudo-terminal.
pollbench_test(test_e2e test_e2e.cpp simprocess.h)
target_compile_definitions(test_e2e PRIVATE SIM_PATH="$<TARGET_FILE:pollbench-sim>")
add_dependencies(test_e2e pollbench-sim)

# The program against hostile input: long lines, a link path not its own,
# script times, signals.
pollbench_test(test_simprogram test_simprogram.cpp simprocess.h)
target_compile_definitions(test_simprogram PRIVATE SIM_PATH="$<TARGET_FILE:pollbench-sim>")
add_dependencies(test_simprogram pollbench-sim)
