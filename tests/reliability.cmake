# Reliability: line faults end to end, unplugging, settings that survive a kill.
pollbench_test(test_soak test_soak.cpp simprocess.h modal.h)
target_compile_definitions(test_soak PRIVATE SIM_PATH="$<TARGET_FILE:pollbench-sim>")
add_dependencies(test_soak pollbench-sim)
# A minute of polling, and longer under the sanitizers' weight.
set_tests_properties(test_soak PROPERTIES TIMEOUT 400)

# A program the tests run and kill: it saves settings in a loop, or once on a
# full disk, or holds a serial port the way another program would.
qt_add_executable(reliability_helper reliability_helper.cpp durability.h)
target_link_libraries(reliability_helper PRIVATE pollbench_window)
target_include_directories(reliability_helper PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})

pollbench_test(test_durability test_durability.cpp durability.h)
target_compile_definitions(test_durability PRIVATE HELPER_PATH="$<TARGET_FILE:reliability_helper>")
add_dependencies(test_durability reliability_helper)

pollbench_test(test_unplug test_unplug.cpp simprocess.h modal.h)
target_compile_definitions(test_unplug PRIVATE SIM_PATH="$<TARGET_FILE:pollbench-sim>"
  HELPER_PATH="$<TARGET_FILE:reliability_helper>")
add_dependencies(test_unplug pollbench-sim reliability_helper)
