// A loadable library that does not export the plug-in entry point.
extern "C" __attribute__((visibility("default"))) int notTheEntryPoint();
extern "C" __attribute__((visibility("default"))) int notTheEntryPoint() {
    return 42;
}
