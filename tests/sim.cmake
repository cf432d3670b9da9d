# the virtual validator, alone and end to end with the tester
pollbench_test(test_sim test_sim.cpp)
target_link_libraries(test_sim PRIVATE pollbench_simmodel)

# The device built into the program, behind the real session and window.
pollbench_test(test_builtinport test_builtinport.cpp modal.h)
target_link_libraries(test_builtinport PRIVATE pollbench_cli)

# The real simulator program over a pseudo-terminal.
pollbench_test(test_e2e test_e2e.cpp simprocess.h)
target_compile_definitions(test_e2e PRIVATE SIM_PATH="$<TARGET_FILE:pollbench-sim>")
add_dependencies(test_e2e pollbench-sim)

# The program against hostile input: long lines, a link path not its own,
# script times, signals.
pollbench_test(test_simprogram test_simprogram.cpp simprocess.h)
target_compile_definitions(test_simprogram PRIVATE SIM_PATH="$<TARGET_FILE:pollbench-sim>")
add_dependencies(test_simprogram pollbench-sim)

# The record of a run against the simulator program, checked against its frame log.
pollbench_test(test_recorde2e test_recorde2e.cpp simprocess.h csvread.h modal.h)
target_compile_definitions(test_recorde2e PRIVATE SIM_PATH="$<TARGET_FILE:pollbench-sim>")
add_dependencies(test_recorde2e pollbench-sim)
