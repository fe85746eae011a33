// PLACEHOLDER: replaced by the real implementation.
#include "velkar/host.h"
#include "velkar/host_functions.h"

namespace velkar::fn {

int recodeText(char* out, const char* in, int fromSet, int toSet) {
  (void)out;
  (void)in;
  (void)fromSet;
  (void)toSet;
  enterCall(52158, "recodeText", {});
  return 0;
}

int convertCharset(char* out, int outSize, const char* in, int inLength, int fromSet, int toSet) {
  (void)out;
  (void)outSize;
  (void)in;
  (void)inLength;
  (void)fromSet;
  (void)toSet;
  enterCall(35385, "convertCharset", {});
  return 0;
}

char* copyText(char* out, const char* in, int maxChars) {
  (void)out;
  (void)in;
  (void)maxChars;
  enterCall(52161, "copyText", {});
  return 0;
}

char* normaliseText(char* text) {
  (void)text;
  enterCall(52156, "normaliseText", {});
  return 0;
}

void* openTextFile(const char* name, const char* mode, int share, int reserved, int wait) {
  (void)name;
  (void)mode;
  (void)share;
  (void)reserved;
  (void)wait;
  enterCall(52534, "openTextFile", {});
  return 0;
}

int closeTextFile(void* file) {
  (void)file;
  enterCall(52305, "closeTextFile", {});
  return 0;
}

int seekFile(void* file, int offset, int origin) {
  (void)file;
  (void)offset;
  (void)origin;
  enterCall(52306, "seekFile", {});
  return 0;
}

int tellFile(void* file) {
  (void)file;
  enterCall(52542, "tellFile", {});
  return 0;
}

int readLine(void* file, char* line, int size) {
  (void)file;
  (void)line;
  (void)size;
  enterCall(52536, "readLine", {});
  return 0;
}

int printToFile(void* file, const char* format, ...) {
  (void)file;
  (void)format;
  enterCall(52541, "printToFile", {});
  return 0;
}

int getField(int index, const char* line, char* field, int fieldSize, int maxLength,
             const char* separators) {
  (void)index;
  (void)line;
  (void)field;
  (void)fieldSize;
  (void)maxLength;
  (void)separators;
  enterCall(52435, "getField", {});
  return 0;
}

}  // namespace velkar::fn
