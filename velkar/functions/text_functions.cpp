// The host's text functions: conversion between its character sets, bounded copies, case
// folding, splitting a line into fields, and its text files.
//
// Failures: openTextFile answers null and readLine 0 (no line); convertCharset and recodeText
// answer -1 and write nothing; copyText and normaliseText answer null and write nothing; the file
// functions answer as the C runtime's (-1, or a negative count). The same values come back when a
// fault is injected.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "velkar/shop/codepage.h"
#include "velkar/core/host_state.h"
#include "velkar/core/host_functions.h"
#include "velkar/core/reset.h"
#include "velkar/functions/text_files.h"

namespace velkar {
namespace {

struct TextFile {
  std::FILE* stream;
  std::string name;
  bool canRead, canWrite;
  bool text;  // CR LF translation
};

struct TextFiles {
  std::map<const void*, std::unique_ptr<TextFile>> open;
  long badHandles = 0;
};

TextFiles& files() {
  static TextFiles state;
  return state;
}

void closeAll() {
  TextFiles& f = files();
  for (auto& [handle, file] : f.open) std::fclose(file->stream);
  f.open.clear();
  f.badHandles = 0;
}

ResetHook resetTextFiles(&closeAll);

// The open file behind a handle, or null (counted) when the handle is not one.
TextFile* lookUp(const void* handle) {
  TextFiles& f = files();
  auto it = f.open.find(handle);
  if (it == f.open.end()) {
    ++f.badHandles;
    return nullptr;
  }
  return it->second.get();
}

// A text argument for the journal that is read no further than `limit` bytes.
std::string argBounded(const char* text, int limit) {
  if (!text) return "null";
  const size_t length = limit < 0 ? std::strlen(text) : strnlen(text, static_cast<size_t>(limit));
  return "\"" + std::string(text, length) + "\"";
}

// Converts `length` bytes of `in` into `out` (which may be `in`).
bool convertBytes(char* out, const char* in, size_t length, int fromSet, int toSet) {
  if (fromSet == toSet) {
    std::memmove(out, in, length);
    return true;
  }
  if (!codepage::known(fromSet) || !codepage::known(toSet)) return false;
  for (size_t i = 0; i < length; ++i)
    out[i] =
        static_cast<char>(codepage::convertByte(static_cast<unsigned char>(in[i]), fromSet, toSet));
  return true;
}

}  // namespace

int openTextFileCount() {
  return static_cast<int>(files().open.size());
}

long badTextFileHandles() {
  return files().badHandles;
}

namespace fn {

int recodeText(char* out, const char* in, int fromSet, int toSet) {
  if (enterCall(52158, "recodeText", {argPtr(out), arg(in), arg(fromSet), arg(toSet)})) return -1;
  if (!out || !in) return -1;
  const size_t length = std::strlen(in);
  if (!convertBytes(out, in, length + 1, fromSet, toSet)) return -1;
  return static_cast<int>(length);
}

int convertCharset(char* out, int outSize, const char* in, int inLength, int fromSet, int toSet) {
  if (enterCall(35385, "convertCharset",
                {argPtr(out), arg(outSize), argBounded(in, inLength), arg(inLength), arg(fromSet),
                 arg(toSet)}))
    return -1;
  if (!out || !in) return -1;
  if (fromSet != toSet && (!codepage::known(fromSet) || !codepage::known(toSet))) return -1;
  if (outSize <= 0) return 0;
  // A negative length means: up to the zero byte. A zero byte inside the given length ends the
  // text as well, since the result is a zero-terminated text.
  size_t length = inLength < 0 ? std::strlen(in) : strnlen(in, static_cast<size_t>(inLength));
  if (length > static_cast<size_t>(outSize) - 1) length = static_cast<size_t>(outSize) - 1;
  convertBytes(out, in, length, fromSet, toSet);
  out[length] = '\0';
  return static_cast<int>(length);
}

char* copyText(char* out, const char* in, int maxChars) {
  if (enterCall(52161, "copyText", {argPtr(out), argBounded(in, maxChars), arg(maxChars)}))
    return nullptr;
  if (!out) return nullptr;
  size_t length = 0;
  if (in && maxChars > 0) length = strnlen(in, static_cast<size_t>(maxChars));
  std::memmove(out, in ? in : "", length);
  out[length] = '\0';
  return host().config.variants.nullTextResults ? nullptr : out;
}

char* normaliseText(char* text) {
  if (enterCall(52156, "normaliseText", {arg(text)})) return nullptr;
  if (!text) return nullptr;
  const NormaliseMode mode = host().config.variants.normalise;
  char* out = text;
  for (const char* p = text; *p; ++p) {
    const unsigned char b = static_cast<unsigned char>(*p);
    switch (mode) {
      case NormaliseMode::FOLD:
        *out++ = static_cast<char>(codepage::foldCase(b));
        break;
      case NormaliseMode::POLISH_UPPER:
        *out++ = static_cast<char>(codepage::polishUpper(b));
        break;
      case NormaliseMode::NO_DIACRITICS:
        *out++ = static_cast<char>(codepage::polishUpper(codepage::baseLetter(b)));
        break;
      case NormaliseMode::LOWER_NO_BLANKS:
        if (b != ' ' && b != '\t') *out++ = static_cast<char>(codepage::polishLower(b));
        break;
    }
  }
  *out = '\0';
  return host().config.variants.nullTextResults ? nullptr : text;
}

int getField(int index, const char* line, char* field, int fieldSize, int maxLength,
             const char* separators) {
  if (enterCall(
          52435, "getField",
          {arg(index), arg(line), argPtr(field), arg(fieldSize), arg(maxLength), arg(separators)}))
    return -1;
  if (!line || index < 0) return -1;
  if (!separators) separators = "";
  const char* start = line;
  for (int i = 0; i < index; ++i) {
    start += std::strcspn(start, separators);
    if (!*start) return -1;  // the line has fewer fields
    ++start;
  }
  const size_t fieldLength = std::strcspn(start, separators);
  if (!field || fieldSize <= 0) return 0;
  size_t copied = fieldLength;
  if (copied > static_cast<size_t>(fieldSize) - 1) copied = static_cast<size_t>(fieldSize) - 1;
  if (copied > static_cast<size_t>(maxLength < 0 ? 0 : maxLength))
    copied = static_cast<size_t>(maxLength < 0 ? 0 : maxLength);
  std::memmove(field, start, copied);
  field[copied] = '\0';
  return static_cast<int>(copied);
}

void* openTextFile(const char* name, const char* mode, int share, int reserved, int wait) {
  if (enterCall(52534, "openTextFile",
                {arg(name), arg(mode), arg(share), arg(reserved), arg(wait)}))
    return nullptr;
  if (!name || !mode || !*name) return nullptr;
  // "r", "w" or "a", then any of "+", "t", "b". The stream itself is always binary: the line end
  // translation is the host's own, so that every build writes and reads the same bytes.
  const char kind = mode[0];
  if (kind != 'r' && kind != 'w' && kind != 'a') return nullptr;
  bool plus = false, binary = false;
  for (const char* m = mode + 1; *m; ++m) {
    if (*m == '+') {
      plus = true;
    } else if (*m == 'b') {
      binary = true;
    } else if (*m != 't') {
      return nullptr;
    }
  }
  std::string streamMode(1, kind);
  streamMode += 'b';
  if (plus) streamMode += '+';
  std::FILE* stream = std::fopen(name, streamMode.c_str());
  if (!stream) return nullptr;
  auto file = std::make_unique<TextFile>(
      TextFile{stream, name, kind == 'r' || plus, kind != 'r' || plus, !binary});
  void* handle = file.get();
  files().open.emplace(handle, std::move(file));
  return handle;
}

int closeTextFile(void* file) {
  if (enterCall(52305, "closeTextFile", {argPtr(file)})) return -1;
  TextFile* f = lookUp(file);
  if (!f) return -1;
  const int result = std::fclose(f->stream) == 0 ? 0 : -1;
  files().open.erase(file);
  return result;
}

int seekFile(void* file, int offset, int origin) {
  if (enterCall(52306, "seekFile", {argPtr(file), arg(offset), arg(origin)})) return -1;
  TextFile* f = lookUp(file);
  if (!f) return -1;
  if (origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END) return -1;
  return std::fseek(f->stream, offset, origin) == 0 ? 0 : -1;
}

int tellFile(void* file) {
  if (enterCall(52542, "tellFile", {argPtr(file)})) return -1;
  TextFile* f = lookUp(file);
  if (!f) return -1;
  return static_cast<int>(std::ftell(f->stream));
}

int readLine(void* file, char* line, int size) {
  if (enterCall(52536, "readLine", {argPtr(file), argPtr(line), arg(size)})) return 0;
  TextFile* f = lookUp(file);
  if (!f || !f->canRead || !line || size <= 0) return 0;
  const size_t room = static_cast<size_t>(size) - 1;
  size_t length = 0;
  bool any = false, pendingCR = false;
  const auto keep = [&](char c) {
    if (length < room) line[length++] = c;
  };
  int c;
  while ((c = std::getc(f->stream)) != EOF) {
    any = true;
    if (c == '\n') break;  // in text mode a CR before it is dropped with it
    if (pendingCR) {
      keep('\r');
      pendingCR = false;
    }
    if (c == '\r' && f->text) {
      pendingCR = true;  // part of the line end when LF (or the end of the file) follows
      continue;
    }
    keep(static_cast<char>(c));
  }
  if (!any) return 0;
  line[length] = '\0';
  return host().config.variants.readLineResult;
}

int printToFile(void* file, const char* format, ...) {
  if (enterCall(52541, "printToFile", {argPtr(file), arg(format)})) return -1;
  TextFile* f = lookUp(file);
  if (!f || !f->canWrite || !format) return -1;
  // Formatted into a buffer that grows until the text fits (some C runtimes answer -1 rather than
  // the needed length when it does not).
  std::string text(256, '\0');
  for (;;) {
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    if (length >= 0 && static_cast<size_t>(length) < text.size()) {
      text.resize(static_cast<size_t>(length));
      break;
    }
    if (text.size() >= (size_t{1} << 24)) return -1;
    text.resize(length >= 0 ? static_cast<size_t>(length) + 1 : text.size() * 2);
  }
  const int length = static_cast<int>(text.size());
  if (f->text) {
    std::string dos;
    dos.reserve(text.size() + text.size() / 8);
    for (char c : text) {
      if (c == '\n') dos += '\r';
      dos += c;
    }
    text.swap(dos);
  }
  if (std::fwrite(text.data(), 1, text.size(), f->stream) != text.size()) return -1;
  return length;
}

}  // namespace fn
}  // namespace velkar
