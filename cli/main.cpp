#include <cstdio>

int main() {
  std::puts("corvane-cli: under construction");
  return 0;
}
