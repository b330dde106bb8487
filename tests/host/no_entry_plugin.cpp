// A shared library that is not a plug-in: it exports no entry.
extern "C" __attribute__((visibility("default"))) int qelTestNotAnEntry() { return 1; }
