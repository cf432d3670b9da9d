# settings, lifecycle and start-up tests
pollbench_test(test_decimal test_decimal.cpp)
pollbench_test(test_settings test_settings.cpp)
pollbench_test(test_lifecycle test_lifecycle.cpp)
pollbench_test(test_startup test_startup.cpp)
