// korvel-cli: runs a program image on the Korvel core without a window (see runner.h).
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/runner.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return korvel::cli::runCommandLine(args, stdout, stderr, std::cin);
}
