// PLACEHOLDER program: loads a plug-in and reports whether it loaded.
#include "velkar/program.h"

#include <cstdio>
#include <string>

#include "velkar/host.h"
#include "velkar/loader.h"

extern "C" int velkarMain(int argc, char** argv) {
  if (argc < 3 || std::string(argv[1]) != "load") {
    std::fprintf(stderr, "usage: velkar load PLUGIN\n");
    return 2;
  }
  std::string error;
  auto plugin = velkar::loadPlugin(argv[2], error);
  if (!plugin) {
    std::fprintf(stderr, "velkar: %s\n", error.c_str());
    return 1;
  }
  std::printf("loaded %s\n", argv[2]);
  return 0;
}
