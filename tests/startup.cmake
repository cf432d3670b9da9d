# settings, lifecycle and start-up tests
pollbench_test(test_decimal test_decimal.cpp)
pollbench_test(test_settings test_settings.cpp)
pollbench_test(test_lifecycle test_lifecycle.cpp)
pollbench_test(test_startup test_startup.cpp)

# The window run as an ordinary user (made for the test, when it runs as
# root) from a directory that user cannot write: an installed copy.
qt_add_executable(asuser_helper asuser_helper.cpp chooser.h modal.h)
target_link_libraries(asuser_helper PRIVATE pollbench_window Qt6::Test)
target_include_directories(asuser_helper PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
pollbench_test(test_asuser test_asuser.cpp)
target_compile_definitions(test_asuser PRIVATE HELPER_PATH="$<TARGET_FILE:asuser_helper>")
add_dependencies(test_asuser asuser_helper)
