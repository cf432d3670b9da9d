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
