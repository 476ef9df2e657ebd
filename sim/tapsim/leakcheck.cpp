// Under LeakSanitizer the window's system libraries report memory they keep
// for the life of the process (D-Bus, and a GL driver that is unloaded before
// the report, which leaves its blocks without an owner). The front end's own
// memory is all owned by RAII, and the receiver process, where the module
// runs, keeps full leak checking.
extern "C" const char* __lsan_default_options() { return "detect_leaks=0"; }
