# tester window tests
pollbench_test(test_layout test_layout.cpp)
pollbench_test(test_controls test_controls.cpp)
pollbench_test(test_tally test_tally.cpp)
pollbench_test(test_widgets test_widgets.cpp)

# The window as accessibility clients read it. Switching accessibility on
# without a screen reader takes Qt's platform headers (Debian's
# qt6-base-private-dev); without them that one case is skipped.
pollbench_test(test_access test_access.cpp windowbench.h fakeport.h)
if(TARGET Qt6::GuiPrivate)
  get_target_property(_gui_private_dirs Qt6::GuiPrivate INTERFACE_INCLUDE_DIRECTORIES)
  foreach(_dir IN LISTS _gui_private_dirs)
    if(EXISTS "${_dir}/qpa/qplatformaccessibility.h")
      target_link_libraries(test_access PRIVATE Qt6::GuiPrivate)
      target_compile_definitions(test_access PRIVATE POLLBENCH_QPA_ACCESSIBILITY)
      break()
    endif()
  endforeach()
endif()

# The line failing while polling is suspended.
pollbench_test(test_suspended test_suspended.cpp windowbench.h fakeport.h modal.h)

# The running program read through the accessibility bus (AT-SPI) on a
# virtual display, polling the virtual validator; skipped where the bus or
# the display cannot be had.
if(UNIX AND NOT APPLE AND TARGET pollbench-sim)
  add_test(NAME test_atspi COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/test_atspi.sh $<TARGET_FILE:pollbench>
    $<TARGET_FILE:pollbench-sim>)
  set_tests_properties(test_atspi PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endif()

# The record and the statistics from the window.
pollbench_test(test_recordwindow test_recordwindow.cpp csvread.h windowbench.h fakeport.h modal.h)

# Which device a port number opens, and the port picker binding a
# pseudo-terminal of the real simulator.
pollbench_test(test_portchoice test_portchoice.cpp simprocess.h modal.h)
target_compile_definitions(test_portchoice PRIVATE SIM_PATH="$<TARGET_FILE:pollbench-sim>")
add_dependencies(test_portchoice pollbench-sim)

# The window's keys, the chooser's Enter and the record dialog.
pollbench_test(test_keys test_keys.cpp windowbench.h fakeport.h modal.h)

# The trace history window, against the real simulator and alone.
pollbench_test(test_history test_history.cpp windowbench.h fakeport.h modal.h simprocess.h csvread.h)
target_compile_definitions(test_history PRIVATE SIM_PATH="$<TARGET_FILE:pollbench-sim>")
add_dependencies(test_history pollbench-sim)

# What an installed copy puts on a desktop: icons, metainfo (checked with
# appstreamcli from Debian's appstream), manual pages.
if(UNIX AND NOT APPLE AND TARGET pollbench-sim)
  add_test(NAME test_install COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/test_install.sh ${PROJECT_BINARY_DIR}
    $<TARGET_FILE:pollbench-sim>)
endif()

# The Statistics window's size, axis and bars.
pollbench_test(test_statchart test_statchart.cpp windowbench.h fakeport.h)
