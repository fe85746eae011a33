// Little-endian integer fields for packed host records: byte arrays with accessors, so a record
// has no padding, any alignment, and no misaligned access.
#pragma once

#include <stdint.h>

template <typename T, int N>
struct LittleEndian {
  unsigned char bytes[N];

  T get() const {
    uint32_t v = 0;
    for (int i = N - 1; i >= 0; --i) v = (v << 8) | bytes[i];
    return static_cast<T>(v);
  }
  void set(T value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < N; ++i) {
      bytes[i] = static_cast<unsigned char>(v & 0xFF);
      v >>= 8;
    }
  }
};

using le16 = LittleEndian<uint16_t, 2>;
using les16 = LittleEndian<int16_t, 2>;
using le32 = LittleEndian<uint32_t, 4>;
using les32 = LittleEndian<int32_t, 4>;

static_assert(sizeof(le16) == 2 && alignof(le16) == 1);
static_assert(sizeof(le32) == 4 && alignof(le32) == 1);

// Reads a 32-bit little-endian value at any address.
inline uint32_t readLe32(const void* at) {
  const unsigned char* p = static_cast<const unsigned char*>(at);
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t readLe16(const void* at) {
  const unsigned char* p = static_cast<const unsigned char*>(at);
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
