# the virtual validator, alone and end to end with the tester
pollbench_test(test_sim test_sim.cpp)
target_link_libraries(test_sim PRIVATE pollbench_sim)
