pollbench_test(test_frames test_frames.cpp)
pollbench_test(test_pollcycle test_pollcycle.cpp fakeport.h modal.h)
pollbench_test(test_reception test_reception.cpp fakeport.h)
pollbench_test(test_trace test_trace.cpp fakeport.h)
