# settings, lifecycle and start-up tests
