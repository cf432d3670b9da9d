# The Linux side of the Windows checks under Wine: a grab of the X screen
# the Windows window is drawn on.
qt_add_executable(screen_grab screen_grab.cpp)
target_link_libraries(screen_grab PRIVATE Qt6::Gui)
