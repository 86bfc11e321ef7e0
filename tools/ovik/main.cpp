// ovik: a late-bound client and command-line host of the library.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "ovik/version.h"

namespace {
int usage() {
  std::cerr << "usage: ovik demo | doctor [--json] [FOLDER] | call PROGID MEMBER [ARG...] |"
               " script [--stop-on-error] [FILE] | typelib |"
               " register [--unregister] | --version\n";
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--version" || command == "-V") {
    std::cout << "ovik " << OVIK_VERSION_STRING << "\n";
    return 0;
  }
  if (command == "typelib") return ovik::host::run_typelib(std::cout);
  if (command == "call") return ovik::host::run_call(args, std::cout, std::cerr);
  if (command == "script") return ovik::host::run_script(args, std::cout, std::cerr);
  if (command == "doctor") return ovik::host::run_doctor(args, std::cout, std::cerr);
  if (command == "demo") return ovik::host::run_demo(args, std::cout, std::cerr);
  if (command == "register") return ovik::host::run_register(args, std::cout, std::cerr);
  return usage();
}
