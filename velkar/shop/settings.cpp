// The host's settings store and the scanf/printf-style access the plug-in uses (hostSettings).
#include "velkar/shop/settings.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "velkar/core/host_state.h"
#include "velkar/core/reset.h"
#include "velkar/shop/shop.h"

namespace velkar::settings {
namespace {

namespace fs = std::filesystem;

// One line of the file as read, so that comments and lines the host does not understand survive
// every rewrite.
struct Line {
  enum Kind { OTHER, SECTION, ENTRY } kind = OTHER;
  std::string raw;      // the line as it stands in the file (without its line end)
  std::string section;  // SECTION: its name; ENTRY: the section it belongs to
  std::string key, value;
};

struct Store {
  fs::path overridePath;
  bool loaded = false;
  bool readable = true;  // false: the file exists but could not be read; nothing is written then
  fs::path loadedFrom;
  bool crlf = false;
  bool noticed = false;  // the user was told that the file cannot be read
  std::vector<Line> lines;
};

Store& store() {
  static Store s;
  return s;
}

void resetStore() {
  store() = Store{};
}
ResetHook resetHook(&resetStore);

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Bytes outside printable ASCII as \xHH, the backslash as \\, and blanks at either end as \x20
// (the reader trims blanks around a value).
std::string escape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    const bool edge = (i == 0 || i + 1 == value.size()) && isBlank(static_cast<char>(c));
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c >= 0x7F || edge) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The reverse of escape(); a backslash before anything else stays as it is.
std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      if (text[i + 1] == '\\') {
        out += '\\';
        ++i;
        continue;
      }
      if (text[i + 1] == 'x' && i + 3 < text.size() && hexDigit(text[i + 2]) >= 0 &&
          hexDigit(text[i + 3]) >= 0) {
        out += static_cast<char>(hexDigit(text[i + 2]) * 16 + hexDigit(text[i + 3]));
        i += 3;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

Line parseLine(const std::string& raw, const std::string& section) {
  Line line;
  line.raw = raw;
  line.section = section;
  const std::string text = trim(raw);
  if (text.empty() || text[0] == ';' || text[0] == '#') return line;
  if (text[0] == '[') {
    const size_t close = text.find(']');
    if (close != std::string::npos) {
      line.kind = Line::SECTION;
      line.section = trim(text.substr(1, close - 1));
    }
    return line;
  }
  const size_t eq = text.find('=');
  if (eq == std::string::npos) return line;
  line.kind = Line::ENTRY;
  line.key = trim(text.substr(0, eq));
  line.value = unescape(trim(text.substr(eq + 1)));
  return line;
}

Store& loaded() {
  Store& s = store();
  const fs::path file = storePath();
  if (s.loaded && s.loadedFrom == file) return s;
  s.loaded = true;
  s.loadedFrom = file;
  s.readable = true;
  s.noticed = false;
  s.crlf = false;
  s.lines.clear();
  std::error_code ec;
  if (!fs::exists(file, ec)) {
    s.readable = !ec;
    return s;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) {
    s.readable = false;
    return s;
  }
  std::stringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    s.readable = false;
    return s;
  }
  std::string section;
  std::string raw;
  std::istringstream lines(content.str());
  while (std::getline(lines, raw)) {
    if (!raw.empty() && raw.back() == '\r') {
      raw.pop_back();
      s.crlf = true;
    }
    Line line = parseLine(raw, section);
    if (line.kind == Line::SECTION) section = line.section;
    s.lines.push_back(std::move(line));
  }
  return s;
}

bool writeThrough(const Store& s, std::string& error) {
  std::string content;
  for (const Line& line : s.lines) content += line.raw + (s.crlf ? "\r\n" : "\n");
  return shop::replaceWholeFile(s.loadedFrom, content, error);
}

bool validName(const std::string& name, bool isSection, std::string& error) {
  const char* what = isSection ? "section" : "key";
  if (name.empty()) {
    error = std::string("empty ") + what + " name";
    return false;
  }
  if (trim(name) != name) {
    error = std::string(what) + " name with blanks at its ends";
    return false;
  }
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || (isSection && c == ']') || (!isSection && c == '=')) {
      error = std::string(what) + " name \"" + name + "\" holds a byte the store cannot keep";
      return false;
    }
  }
  if (!isSection && (name[0] == '[' || name[0] == ';' || name[0] == '#')) {
    error = "key name \"" + name + "\" starts with a byte the store cannot keep";
    return false;
  }
  return true;
}

// ---- scanf-style reading ------------------------------------------------------------------

enum Length { LEN_NONE, LEN_HH, LEN_H, LEN_L, LEN_LL };

// The length modifier of a conversion (hh, h, ll, l), stepping over it.
Length parseLength(const char*& f) {
  if (f[0] == 'h' && f[1] == 'h') {
    f += 2;
    return LEN_HH;
  }
  if (f[0] == 'h') {
    ++f;
    return LEN_H;
  }
  if (f[0] == 'l' && f[1] == 'l') {
    f += 2;
    return LEN_LL;
  }
  if (f[0] == 'l') {
    ++f;
    return LEN_L;
  }
  return LEN_NONE;
}

struct Assignment {
  enum Kind { INTEGER, TEXT, CHARS, FLOAT, DOUBLE } kind;
  void* target;
  size_t size = 0;  // integer width in bytes
  int64_t integer = 0;
  double real = 0;
  std::string text;
};

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

size_t integerSize(Length length) {
  switch (length) {
    case LEN_HH:
      return 1;
    case LEN_H:
      return 2;
    case LEN_L:
      return sizeof(long);
    case LEN_LL:
      return 8;
    default:
      return sizeof(int);
  }
}

// Reads one integer of at most `width` characters (0 = unlimited) at `at`. The value must fit
// the target: signed conversions its signed range, unsigned ones its unsigned range (a negative
// value that fits the signed range is taken as scanf takes it, modulo the width).
bool scanInteger(const char*& at, int width, int base, bool isSigned, size_t size, int64_t& out) {
  std::string token =
      width > 0 ? std::string(at, strnlen(at, static_cast<size_t>(width))) : std::string(at);
  if (token.empty() || isSpace(token[0])) return false;
  const char* begin = token.c_str();
  char* end = nullptr;
  errno = 0;
  const bool negative = token[0] == '-';
  const int bits = static_cast<int>(size * 8);
  if (negative || isSigned) {
    const long long v = std::strtoll(begin, &end, base);
    if (end == begin || errno == ERANGE) return false;
    const long long low = bits >= 64 ? LLONG_MIN : -(1LL << (bits - 1));
    const long long high = bits >= 64 ? LLONG_MAX : (1LL << (bits - 1)) - 1;
    if (v < low || v > high) return false;
    out = v;
  } else {
    const unsigned long long v = std::strtoull(begin, &end, base);
    if (end == begin || errno == ERANGE) return false;
    const unsigned long long high = bits >= 64 ? ULLONG_MAX : (1ULL << bits) - 1;
    if (v > high) return false;
    out = static_cast<int64_t>(v);
  }
  at += end - begin;
  return true;
}

void commit(const Assignment& a) {
  switch (a.kind) {
    case Assignment::INTEGER: {
      const int8_t v8 = static_cast<int8_t>(a.integer);
      const int16_t v16 = static_cast<int16_t>(a.integer);
      const int32_t v32 = static_cast<int32_t>(a.integer);
      const int64_t v64 = a.integer;
      const void* from = a.size == 1   ? static_cast<const void*>(&v8)
                         : a.size == 2 ? static_cast<const void*>(&v16)
                         : a.size == 4 ? static_cast<const void*>(&v32)
                                       : static_cast<const void*>(&v64);
      std::memcpy(a.target, from, a.size);
      break;
    }
    case Assignment::TEXT:
      std::memcpy(a.target, a.text.c_str(), a.text.size() + 1);
      break;
    case Assignment::CHARS:
      std::memcpy(a.target, a.text.data(), a.text.size());
      break;
    case Assignment::FLOAT: {
      const float f = static_cast<float>(a.real);
      std::memcpy(a.target, &f, sizeof f);
      break;
    }
    case Assignment::DOUBLE:
      std::memcpy(a.target, &a.real, sizeof a.real);
      break;
  }
}

int scanWith(const std::string& value, const char* format, va_list args) {
  const char* in = value.c_str();
  std::vector<Assignment> assignments;
  for (const char* f = format; *f; ++f) {
    if (isSpace(*f)) {
      while (isSpace(*in)) ++in;
      continue;
    }
    if (*f != '%') {
      if (*in != *f) return 1;
      ++in;
      continue;
    }
    ++f;
    if (*f == '%') {
      while (isSpace(*in)) ++in;
      if (*in != '%') return 1;
      ++in;
      continue;
    }
    const bool suppress = *f == '*';
    if (suppress) ++f;
    int width = 0;
    while (*f >= '0' && *f <= '9') {
      width = width * 10 + (*f - '0');
      if (width > 1 << 20) return 2;
      ++f;
    }
    const Length length = parseLength(f);
    const char conversion = *f;
    Assignment a{};
    switch (conversion) {
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
      case 'o': {
        const int base = conversion == 'd' || conversion == 'u' ? 10
                         : conversion == 'i'                    ? 0
                         : conversion == 'o'                    ? 8
                                                                : 16;
        a.kind = Assignment::INTEGER;
        a.size = integerSize(length);
        while (isSpace(*in)) ++in;
        const bool isSigned = conversion == 'd' || conversion == 'i';
        if (!scanInteger(in, width, base, isSigned, a.size, a.integer)) return 1;
        // A host that keeps its numbers in 16 bits fills only the low two bytes of an int.
        if (length == LEN_NONE && host().config.variants.settingsInt16) a.size = 2;
        break;
      }
      case 's': {
        if (width == 0 || length != LEN_NONE) return 2;  // an unbounded %s could overrun
        a.kind = Assignment::TEXT;
        if (host().config.variants.settingsTextWhole) {
          // The value as stored, blanks included, up to the width.
          while (*in && static_cast<int>(a.text.size()) < width) a.text += *in++;
        } else {
          while (isSpace(*in)) ++in;
          while (*in && !isSpace(*in) && static_cast<int>(a.text.size()) < width) a.text += *in++;
        }
        if (a.text.empty()) return 1;
        break;
      }
      case 'c': {
        if (length != LEN_NONE) return 2;
        a.kind = Assignment::CHARS;
        const int count = width ? width : 1;
        for (int i = 0; i < count; ++i) {
          if (!*in) return 1;
          a.text += *in++;
        }
        break;
      }
      case 'f':
      case 'e':
      case 'g':
      case 'E':
      case 'G': {
        if (length != LEN_NONE && length != LEN_L) return 2;
        a.kind = length == LEN_L ? Assignment::DOUBLE : Assignment::FLOAT;
        while (isSpace(*in)) ++in;
        std::string token =
            width > 0 ? std::string(in, strnlen(in, static_cast<size_t>(width))) : std::string(in);
        char* end = nullptr;
        errno = 0;
        a.real = std::strtod(token.c_str(), &end);
        if (end == token.c_str() || errno == ERANGE) return 1;
        in += end - token.c_str();
        break;
      }
      default:
        return 2;  // %n, %p, %[...] and the rest: not taken
    }
    if (suppress) continue;
    a.target = va_arg(args, void*);
    if (!a.target) return 2;
    assignments.push_back(std::move(a));
  }
  for (const Assignment& a : assignments) commit(a);
  return 0;
}

// ---- printf-style writing -----------------------------------------------------------------

bool formatWith(const char* format, va_list args, std::string& out) {
  out.clear();
  for (const char* f = format; *f; ++f) {
    if (*f != '%') {
      out += *f;
      continue;
    }
    const char* start = f++;
    if (*f == '%') {
      out += '%';
      continue;
    }
    while (*f && std::strchr("-+ #0", *f)) ++f;
    while (*f >= '0' && *f <= '9') ++f;
    if (*f == '.') {
      ++f;
      while (*f >= '0' && *f <= '9') ++f;
    }
    const Length length = parseLength(f);
    const std::string spec(start, static_cast<size_t>(f - start + 1));
    char buffer[512];
    int n = -1;
    switch (*f) {
      case 'd':
      case 'i':
        if (length == LEN_LL)
          n = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, long long));
        else if (length == LEN_L)
          n = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, long));
        else
          n = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, int));
        break;
      case 'u':
      case 'x':
      case 'X':
      case 'o':
        if (length == LEN_LL)
          n = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, unsigned long long));
        else if (length == LEN_L)
          n = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, unsigned long));
        else
          n = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, unsigned));
        break;
      case 'c':
        if (length != LEN_NONE) return false;
        n = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, int));
        break;
      case 'f':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
        if (length != LEN_NONE && length != LEN_L) return false;
        n = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, double));
        break;
      case 's': {
        if (length != LEN_NONE) return false;
        const char* text = va_arg(args, const char*);
        if (!text) return false;
        const int size = std::snprintf(nullptr, 0, spec.c_str(), text);
        if (size < 0) return false;
        std::vector<char> big(static_cast<size_t>(size) + 1);
        std::snprintf(big.data(), big.size(), spec.c_str(), text);
        out.append(big.data(), static_cast<size_t>(size));
        continue;
      }
      default:
        return false;  // '*', %n, %p and the rest: not taken
    }
    if (n < 0 || n >= static_cast<int>(sizeof buffer)) return false;
    out.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

void setStorePath(const fs::path& file) {
  store().overridePath = file;
  store().loaded = false;
}

fs::path storePath() {
  if (!store().overridePath.empty()) return store().overridePath;
  const fs::path& shop = host().shopDir;
  return shop.empty() ? fs::path("velkar.ini") : shop / "velkar.ini";
}

void reload() {
  store().loaded = false;
}

bool get(const std::string& section, const std::string& key, std::string& value) {
  const Store& s = loaded();
  if (!s.readable) return false;
  for (const Line& line : s.lines)
    if (line.kind == Line::ENTRY && sameName(line.section, section) && sameName(line.key, key)) {
      value = line.value;
      return true;
    }
  return false;
}

bool set(const std::string& section, const std::string& key, const std::string& value,
         std::string& error) {
  if (!validName(section, true, error) || !validName(key, false, error)) return false;
  Store& s = loaded();
  if (!s.readable) {
    error = "the settings file " + s.loadedFrom.string() + " cannot be read; it is left alone";
    return false;
  }
  std::vector<Line> lines = s.lines;
  Line entry;
  entry.kind = Line::ENTRY;
  entry.section = section;
  entry.key = key;
  entry.value = value;
  entry.raw = key + "=" + escape(value);

  bool done = false;
  size_t lastOfSection = std::string::npos;  // where a new key of the section goes after
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    const Line& line = lines[i];
    if (line.kind == Line::ENTRY && sameName(line.section, section)) {
      if (sameName(line.key, key)) {
        entry.section = line.section;
        entry.key = line.key;
        entry.raw = line.key + "=" + escape(value);
        lines[i] = entry;
        done = true;
      } else {
        lastOfSection = i;
      }
    } else if (line.kind == Line::SECTION && sameName(line.section, section) &&
               lastOfSection == std::string::npos) {
      lastOfSection = i;
    }
  }
  if (!done) {
    if (lastOfSection != std::string::npos) {
      entry.section = lines[lastOfSection].section;
      lines.insert(lines.begin() + static_cast<long>(lastOfSection) + 1, entry);
    } else {
      if (!lines.empty() && !trim(lines.back().raw).empty()) lines.push_back(Line{});
      Line header;
      header.kind = Line::SECTION;
      header.section = section;
      header.raw = "[" + section + "]";
      lines.push_back(header);
      lines.push_back(entry);
    }
  }
  Store candidate = s;
  candidate.lines = std::move(lines);
  if (!writeThrough(candidate, error)) return false;
  s.lines = std::move(candidate.lines);
  return true;
}

bool erase(const std::string& section, const std::string& key, std::string& error) {
  Store& s = loaded();
  if (!s.readable) {
    error = "the settings file " + s.loadedFrom.string() + " cannot be read; it is left alone";
    return false;
  }
  Store candidate = s;
  for (auto it = candidate.lines.begin(); it != candidate.lines.end(); ++it)
    if (it->kind == Line::ENTRY && sameName(it->section, section) && sameName(it->key, key)) {
      candidate.lines.erase(it);
      if (!writeThrough(candidate, error)) return false;
      s.lines = std::move(candidate.lines);
      return true;
    }
  error = "no key " + key + " in section " + section;
  return false;
}

std::vector<Entry> entries() {
  std::vector<Entry> out;
  const Store& s = loaded();
  for (const Line& line : s.lines)
    if (line.kind == Line::ENTRY) out.push_back(Entry{line.section, line.key, line.value});
  return out;
}

int scanValue(const std::string& value, const char* format, va_list args) {
  if (!format) return 2;
  va_list copy;
  va_copy(copy, args);
  const int result = scanWith(value, format, copy);
  va_end(copy);
  return result;
}

bool formatValue(const char* format, va_list args, std::string& out) {
  if (!format) return false;
  va_list copy;
  va_copy(copy, args);
  const bool ok = formatWith(format, copy, out);
  va_end(copy);
  return ok;
}

int access(int operation, const char* section, const char* key, const char* format, va_list args) {
  if (!section || !key || !format) return 1;
  if (operation == 1 || operation == 8) {
    std::string value;
    if (Store& s = loaded(); !s.readable && !s.noticed) {
      s.noticed = true;
      hostNotice("Nie można odczytać pliku ustawień " + s.loadedFrom.filename().string() + ".",
                 "settings: the settings file " + s.loadedFrom.string() + " cannot be read");
    }
    if (!get(section, key, value)) return 1;
    return scanValue(value, format, args);
  }
  if (operation == 2 || operation == 9) {
    std::string value, error;
    if (!formatValue(format, args, value)) return 1;
    if (!set(section, key, value, error)) {
      hostNotice("Nie można zapisać ustawień w pliku " + storePath().filename().string() + ".",
                 "settings: " + error);
      return 1;
    }
    return 0;
  }
  return 1;
}

}  // namespace velkar::settings
