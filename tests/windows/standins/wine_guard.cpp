// Prints a known line naming its own width: proof that Wine really runs the test programs
// of this build (a Wine without the matching part exits 0 without running anything).
#include <cstdio>

int main() {
  std::printf("%d-bit test programs run\n", static_cast<int>(sizeof(void*) * 8));
  return 0;
}
