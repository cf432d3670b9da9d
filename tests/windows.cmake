# The suites built for Windows: the protocol, the session, settings, the
# record and statistics, the options. The rest drive pseudo-terminals,
# signals or the simulator program, which are POSIX's.

# Each suite's report goes through a file (see logged-run.cmake).
function(pollbench_windows_test name)
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:${name}>
    "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}" -DLOG=${CMAKE_CURRENT_BINARY_DIR}/${name}.log
    -P ${CMAKE_CURRENT_SOURCE_DIR}/logged-run.cmake)
  # Wine passes no QT_ variable of Linux on; WINEQT_ ones arrive as QT_.
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false;WINEQT_QPA_PLATFORM=offscreen;WINEQT_LOGGING_RULES=qt.qpa.*=false"
    TIMEOUT 300)
endfunction()

function(pollbench_test name)
  qt_add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE pollbench_window Qt6::Test)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  pollbench_windows_test(${name})
endfunction()
pollbench_test(test_frames test_frames.cpp)
pollbench_test(test_pollcycle test_pollcycle.cpp fakeport.h modal.h)
pollbench_test(test_reception test_reception.cpp fakeport.h)
pollbench_test(test_decimal test_decimal.cpp)
pollbench_test(test_settings test_settings.cpp)
pollbench_test(test_tally test_tally.cpp)

pollbench_test(test_options test_options.cpp settingstext.h)
target_link_libraries(test_options PRIVATE pollbench_cli)

pollbench_test(test_windows test_windows.cpp)
target_link_libraries(test_windows PRIVATE pollbench_cli)

function(pollbench_link_test name)
  qt_add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE pollbench_link Qt6::Test)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  pollbench_windows_test(${name})
endfunction()
pollbench_link_test(test_session test_session.cpp fakeport.h replies.h)
target_link_libraries(test_session PRIVATE pollbench_run)
pollbench_link_test(test_record test_record.cpp csvread.h fakeport.h replies.h)
target_link_libraries(test_record PRIVATE pollbench_run)
