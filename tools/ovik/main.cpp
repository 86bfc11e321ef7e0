// ovik: a late-bound client and command-line host of the library.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

int main(int argc, char** argv) {
  return ovik::host::run_ovik(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
