// Linked into every program of an AddressSanitizer build.
//
// LeakSanitizer looks for leaks when the process ends, after the libraries
// that were loaded at run time have been unloaded again. What their global
// variables held then looks leaked, from code that can no longer be named:
// the GL driver behind the pages leaves two such blocks on every run. So in
// these builds nothing is unloaded: this dlclose takes the place of the
// system's and keeps every library mapped to the end.

extern "C" int dlclose(void *)
{
    return 0;
}
