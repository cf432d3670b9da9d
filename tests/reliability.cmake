# Reliability: line faults end to end, unplugging, settings that survive a kill.
pollbench_test(test_soak test_soak.cpp simprocess.h modal.h)
target_compile_definitions(test_soak PRIVATE SIM_PATH="$<TARGET_FILE:pollbench-sim>")
add_dependencies(test_soak pollbench-sim)
# A minute of polling, and longer under the sanitizers' weight.
set_tests_properties(test_soak PROPERTIES TIMEOUT 400)
