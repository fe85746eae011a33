#include "host/messages.h"

#include <stdarg.h>

#include "host/calls.h"

int showFormattedMessage(const char* caption, const char* format, int style, ...) {
  va_list args;
  va_start(args, style);
  const int result = host::showMessageList(0, caption, format, style, args);
  va_end(args);
  return result;
}
