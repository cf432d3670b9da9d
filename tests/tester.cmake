# tester window tests
