# What a run makes of the session's reports, with no window: the figures
# and the session record with its CSV.
pollbench_link_test(test_record test_record.cpp csvread.h fakeport.h replies.h)
target_link_libraries(test_record PRIVATE pollbench_run)
