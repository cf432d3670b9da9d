pollbench_test(test_frames test_frames.cpp)
pollbench_test(test_pollcycle test_pollcycle.cpp fakeport.h modal.h)
pollbench_test(test_reception test_reception.cpp fakeport.h)
pollbench_test(test_trace test_trace.cpp fakeport.h)
pollbench_test(test_pty test_pty.cpp modal.h)

# Tests of the link on its own: no window library and a bare
# QCoreApplication, so a session that needed a window would not link or run.
function(pollbench_link_test name)
  qt_add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE pollbench_link Qt6::Test)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()

pollbench_link_test(test_session test_session.cpp fakeport.h replies.h)
# A reset session is compared with a new one down to the figures of its run.
target_link_libraries(test_session PRIVATE pollbench_run)

# The session against the simulator program adding noise to the line.
pollbench_link_test(test_noise test_noise.cpp simprocess.h)
target_link_libraries(test_noise PRIVATE pollbench_run)
target_compile_definitions(test_noise PRIVATE SIM_PATH="$<TARGET_FILE:pollbench-sim>")
add_dependencies(test_noise pollbench-sim)
