// Program entry. Decides the mode from the command line before any Qt object exists.
#include <clocale>
#include <cstdio>

int main(int, char**) {
  std::setlocale(LC_ALL, "");
  std::fprintf(stderr, "jumelix : en construction\n");
  return 1;
}
