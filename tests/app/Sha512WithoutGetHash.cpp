// A sha512 library that lacks GetHash, for the start-up's binding check.
extern "C" {
__attribute__((visibility("default"))) void* CreateAlgorithm() { return nullptr; }
__attribute__((visibility("default"))) int DestroyAlgorithm(void*) { return 1; }
__attribute__((visibility("default"))) int InitAlgorithm(void*) { return 1; }
__attribute__((visibility("default"))) int InputData(void*, const unsigned char*, int) { return 1; }
__attribute__((visibility("default"))) int GetHashLength(void*) { return 64; }
}
