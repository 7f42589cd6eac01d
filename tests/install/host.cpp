// Built against the installed headers and libraries only.
#include <morvik/MorvikVerify.h>
#include <morvik/platform/dispatch.h>

#include <cstdio>

int main() {
  std::puts("morvik-install-host: linked against the installed MorvikVerify package");
  return 0;
}
