# tester window tests
pollbench_test(test_layout test_layout.cpp)
pollbench_test(test_controls test_controls.cpp)
pollbench_test(test_tally test_tally.cpp)
pollbench_test(test_widgets test_widgets.cpp)
