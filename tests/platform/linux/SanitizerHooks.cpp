// The udev tests under AddressSanitizer (the asan preset): umockdev's preload library comes
// before the sanitizer's runtime in the process, which the sanitizer refuses unless told, and
// the GLib the testbed runs on keeps allocations for the life of the process. Unused elsewhere.
extern "C" const char* __asan_default_options();
extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __asan_default_options() { return "verify_asan_link_order=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:libglib-2.0.so\n"; }
