# What a run makes of the session's reports, with no window: the figures
# and the session record with its CSV.
pollbench_link_test(test_record test_record.cpp csvread.h fakeport.h replies.h)
target_link_libraries(test_record PRIVATE pollbench_run)
# The figures against scripted reports: no port, no session.
pollbench_link_test(test_figures test_figures.cpp)
target_link_libraries(test_figures PRIVATE pollbench_run)
