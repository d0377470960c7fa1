// korvel-cli: runs a program image on the Korvel core without a window (see runner.h).
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "runner.h"

int main(int argc, char** argv) {
#ifdef _WIN32
  // Lines go out exactly as written: an OUT line's CR LF must not gain a second CR.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const std::vector<std::string> args(argv + 1, argv + argc);
  return korvel::cli::runCommandLine(args, stdout, stderr, std::cin);
}
