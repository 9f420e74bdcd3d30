// Prints a known line: proof that Wine really runs the 32-bit test programs (a Wine without
// its 32-bit part exits 0 without running anything).
#include <cstdio>

int main() {
  std::puts("32-bit test programs run");
  return 0;
}
