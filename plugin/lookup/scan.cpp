#include "lookup/scan.h"

#include <string.h>

#include "host/calls.h"

namespace {

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Copies at most limit bytes of a text that may lack its zero byte, and ends it with one.
void copyBounded(char* out, const char* in, int limit) {
  const int n = boundedLength(in, limit);
  memcpy(out, in, static_cast<size_t>(n));
  out[n] = 0;
}

}  // namespace

int stricmpAscii(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const unsigned char x = static_cast<unsigned char>(lowerAscii(*a));
    const unsigned char y = static_cast<unsigned char>(lowerAscii(*b));
    if (x != y || x == 0) return x - y;
  }
}

void normaliseWorkText(char* text, const char* from, int limit) {
  copyBounded(text, from, limit);
  host::normaliseText(text);
  text[WORK_TEXT_SIZE - 1] = 0;
}

RateEntry* scanRatesByCode(RateList& rates, const char* code) {
  for (int32_t i = 0; i < rates.count; ++i) {
    RateEntry* entry = &rates.entries[i];
    if (entry->key[0] == 0) {
      entry->status.set(RATE_INVALID);
      continue;
    }
    if (stricmpAscii(entry->key, code) == 0) return entry;
  }
  return nullptr;
}

RateEntry* scanRatesByName(RateList& rates, const char* name) {
  char normalName[WORK_TEXT_SIZE];
  normaliseWorkText(normalName, name, WORK_TEXT_SIZE - 1);

  char normalKey[WORK_TEXT_SIZE];
  for (int32_t i = 0; i < rates.count; ++i) {
    RateEntry* entry = &rates.entries[i];
    if (entry->key[0] != 0) {
      normaliseWorkText(normalKey, entry->key, RATE_KEY_CHARS);
      // A key that normalises to nothing names no product (an empty text occurs in every name).
      if (normalKey[0] != 0) {
        if (strstr(normalName, normalKey)) return entry;
        continue;
      }
    }
    entry->status.set(RATE_INVALID);
  }
  return nullptr;
}
