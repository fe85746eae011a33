// The host's settings reader: any bytes as the store's file. Every value is then read with the
// conversions a plug-in uses (each into a target with guard bytes after the width it may fill),
// the module's own reads are made through the settings function, and a value stored back reads
// the same after the file is loaded again.
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "velkar/shop/settings.h"

namespace {

namespace fs = std::filesystem;
namespace settings = velkar::settings;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  std::abort();
}

fs::path& storeFile() {
  static fs::path file;
  return file;
}

// A scan of value with format into a target of which the first `width` bytes may be written.
struct Conversion {
  const char* format;
  size_t width;
};
constexpr Conversion kConversions[] = {
    {"%128s", 129}, {"%d", 4}, {"%hd", 2}, {"%hhu", 1}, {"%lld", 8},  {"%x", 4},
    {"%5c", 5},     {"%c", 1}, {"%o", 4},  {"%3s", 4},  {"%*d%d", 4}, {"%i", 4},
};

int scan(const std::string& value, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = settings::scanValue(value, format, args);
  va_end(args);
  return result;
}

int access(int operation, const char* section, const char* key, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = settings::access(operation, section, key, format, args);
  va_end(args);
  return result;
}

constexpr unsigned char kGuard = 0xA5;

// Whether bytes [from, to) of target all still hold the guard byte. One memcmp of the range
// against itself shifted by a byte: a loop here would be instrumented like the code under test
// and take most of each run's time.
bool untouched(const unsigned char* target, size_t from, size_t to) {
  if (from >= to) return true;
  return target[from] == kGuard &&
         std::memcmp(target + from, target + from + 1, to - from - 1) == 0;
}

void scanGuarded(const std::string& value, const Conversion& c) {
  unsigned char target[256];
  std::memset(target, kGuard, sizeof target);
  const int result = scan(value, c.format, target);
  if (result < 0 || result > 2) fail("scanValue answered " + std::to_string(result));
  if (!untouched(target, c.width, sizeof target))
    fail(std::string("scanValue wrote past the target of ") + c.format);
  if (result != 0 && !untouched(target, 0, c.width))
    fail(std::string("a failed scan changed its target: ") + c.format);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = std::getenv("FUZZ_SHOP_BASE");
  std::string dir = (fs::path(base                     ? base
                              : fs::exists("/dev/shm") ? "/dev/shm"
                                                       : "/tmp") /
                     "velkar-fuzz-XXXXXX")
                        .string();
  if (!::mkdtemp(dir.data())) fail("no folder");
  storeFile() = fs::path(dir) / "velkar.ini";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(storeFile().c_str(), "wb");
  if (!f) fail("cannot write the store");
  if (size && std::fwrite(data, 1, size, f) != size) fail("short write");
  std::fclose(f);
  settings::setStorePath(storeFile());

  const auto entries = settings::entries();
  for (const settings::Entry& e : entries) {
    std::string value;
    if (!settings::get(e.section, e.key, value)) fail("an entry that get does not find");
    for (const Conversion& c : kConversions) scanGuarded(value, c);
  }

  // The module's reads: "Path" into a 129-byte name, "Opcje" and "Mag" into 32 bits.
  char path[129 + 8];
  std::memset(path, 0x5A, sizeof path);
  if (access(8, "Mirtal", "Path", "%128s", path) == 0 && !std::memchr(path, 0, 129))
    fail("a path read without its zero byte");
  for (size_t i = 129; i < sizeof path; ++i)
    if (path[i] != 0x5A) fail("the path read ran past its 129 bytes");
  int32_t numbers[2] = {0, 0x5A5A5A5A};
  access(8, "Mirtal", "Opcje", "%d", &numbers[0]);
  access(1, "Mirtal", "Mag", "%d", &numbers[0]);
  if (numbers[1] != 0x5A5A5A5A) fail("a number read ran past its 32 bits");

  // A value stored back under its own names reads the same once the file is loaded again.
  if (!entries.empty()) {
    const settings::Entry& e = entries.front();
    std::string before, error, after;
    if (settings::get(e.section, e.key, before) && settings::set(e.section, e.key, before, error)) {
      settings::reload();
      if (!settings::get(e.section, e.key, after)) fail("a value stored back is gone");
      if (after != before) fail("a value stored back reads differently");
    }
  }
  return 0;
}
