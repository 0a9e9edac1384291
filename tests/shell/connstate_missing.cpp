// A library that loads but exports no connection-state function.
extern "C" __attribute__((visibility("default"))) int wavrell_something_else() { return 1; }
