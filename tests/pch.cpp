// Compiles the test framework's header once; every test reuses it.
