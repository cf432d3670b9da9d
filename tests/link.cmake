pollbench_test(test_frames test_frames.cpp)
