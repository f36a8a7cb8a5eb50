// A small library for the loader tests: tells which copy was loaded and whether it is shared.
extern "C" __attribute__((visibility("default"))) int LoaderProbeAnswer()
{
    return 42;
}

extern "C" __attribute__((visibility("default"))) int LoaderProbeNextCount()
{
    static int count = 0;
    return ++count;
}
