// Writes a generated shop and rate file for trying the command by hand or timing it.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "bench/shopgen.h"

int main(int argc, char** argv) {
  bench::ShopSpec spec;
  std::string dir;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const char* v = argv[i + 1];
    if (a == "--dir")
      dir = v;
    else if (a == "--format")
      spec.format = std::atoi(v);
    else if (a == "--products")
      spec.products = std::atoi(v);
    else if (a == "--lines")
      spec.lines = std::atoi(v);
    else if (a == "--names")
      spec.names = std::string(v) == "worst" ? bench::NameData::Worst : bench::NameData::Typical;
    else if (a == "--seed")
      spec.seed = static_cast<uint32_t>(std::atol(v));
    else
      dir.clear(), i = argc;
  }
  if (dir.empty() || spec.products < 0 || spec.lines < 0 || spec.format < 0 || spec.format > 2) {
    std::cerr << "usage: vatupdate_shopgen --dir DIR [--format 0|1|2] [--products N] [--lines N]\n"
                 "                         [--names typical|worst] [--seed N]\n"
                 "\n"
                 "Writes warehouse 1's product file, the additional-code file and the rate file "
              << bench::RATE_FILE
              << "\n(Windows-1250) into DIR. The command then runs on it with, for example:\n"
                 "  velkar run --shop DIR --plugin vatupdate.so --script SCRIPT\n"
                 "and the script lines: message ok / dialog file="
              << bench::RATE_FILE << " format=N ok / warehouse 1\n";
    return 2;
  }
  std::string error;
  if (!bench::generate(spec, dir, error)) {
    std::cerr << error << "\n";
    return 1;
  }
  std::cout << bench::describe(spec) << " in " << dir << "\n";
  return 0;
}
