#include "host/settings.h"

#include <stdarg.h>

#include "host/calls.h"

int accessSetting(int operation, const char* section, const char* key, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = host::hostSettings(operation, section, key, format, args);
  va_end(args);
  return result;
}
