#include <cstdio>

// The demo host walks both verifications end to end once the flows exist.
int main() {
  std::puts("morvik-demo: the demo is not built yet; the SDK's foundation layers are in place.");
  return 0;
}
