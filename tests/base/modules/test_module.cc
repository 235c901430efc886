// A small shared object that the module wrapper's tests load by path.
extern "C" __attribute__((visibility("default"))) int OrvaneTestModuleAnswer() {
  return 42;
}
