// Mesa's software driver keeps a few allocations for the life of the process (its feedback
// stage among them). In sanitizer builds the leak checker would blame them on our tests; they
// are not ours to free. Only read by LeakSanitizer; plain builds ignore it.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:swrast_dri.so\n"
           "leak:libgallium\n";
}
