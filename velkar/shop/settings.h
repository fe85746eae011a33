// The host's settings store: a text file "velkar.ini" in the shop folder, in [section] and
// key=value lines. Values are kept as the bytes the plug-in hands over (host code page); bytes
// that are not printable ASCII are written as \xHH escapes so the file stays plain ASCII (see
// docs/formats.md). The store is loaded when first used and written through on every change.
#pragma once

#include <cstdarg>
#include <filesystem>
#include <string>
#include <vector>

namespace velkar::settings {

// The file of the store. Empty (the default, and after a host reset) means "velkar.ini" in the
// host's shop folder. Setting a path drops what was loaded; the next access loads it afresh.
void setStorePath(const std::filesystem::path& file);
std::filesystem::path storePath();

// Forgets what was loaded, so the next access reads the file again.
void reload();

// One value, its raw bytes. False when the section or key is not in the store (or the store
// cannot be read).
bool get(const std::string& section, const std::string& key, std::string& value);

// Stores one value and writes the file through (a new file, then renamed over the old one).
// False with a reason when the names cannot be stored or the file cannot be written; the file is
// then as it was.
bool set(const std::string& section, const std::string& key, const std::string& value,
         std::string& error);

// Removes one key; true when it was there and the file was written.
bool erase(const std::string& section, const std::string& key, std::string& error);

struct Entry {
  std::string section, key, value;
};
// Every value in file order.
std::vector<Entry> entries();

// scanf-style read of one stored value into the variables that `args` points to. All or nothing:
// the variables are changed only when every conversion of the format succeeded. Supported
// conversions: d i u x X o (with hh h l ll), s and c (s only with a width), %% and the
// assignment-suppressing *. Returns 0 when done, 1 when the value does not fit the format, 2 for a
// format the host does not take.
int scanValue(const std::string& value, const char* format, va_list args);

// printf-style formatting of a value from `args`: d i u x X o c (with hh h l ll), s, f e g, %%,
// with flags, width and precision (not '*'). False for a format the host does not take or a null
// text argument.
bool formatValue(const char* format, va_list args, std::string& out);

// The whole of hostSettings: operations 1 and 8 read, 2 and 9 write (both pairs reach the same
// store). Returns 0 when done, non-zero when nothing was read or written.
int access(int operation, const char* section, const char* key, const char* format, va_list args);

}  // namespace velkar::settings
