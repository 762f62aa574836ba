// The smallest C++ program that links zlib: the floor of a process start on this machine,
// against which tarvik-cli's own start-up is measured.
#include <zlib.h>

#include <cstdio>

int main(int argc, char**) {
  if (argc > 99) return zlibVersion()[0];
  std::puts("minimal 1.0");
  return 0;
}
