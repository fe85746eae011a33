// Each part of the stand-in that keeps state registers how to return to a fresh host.
#pragma once

namespace velkar {

struct ResetHook {
  explicit ResetHook(void (*reset)());
};

}  // namespace velkar
