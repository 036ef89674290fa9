/* A shared library that is not an input plug-in: it lacks the entry point. */
__attribute__((visibility("default"))) int kav_not_a_plugin(void) {
    return 42;
}
