#include <iostream>

#include "lumetra_cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return lumetra::cli::Run(arguments, std::cout, std::cerr);
}
