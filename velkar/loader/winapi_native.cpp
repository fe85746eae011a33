// The Windows loader calls the module makes, played by the stand-in in the native build.
#ifndef _WIN32

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "plugin/platform/platform.h"
#include "velkar/core/host_state.h"
#include "velkar/loader/loader.h"

namespace {
// The handle GetModuleHandleA gives for "VELKAR".
char hostModuleTag;
}  // namespace

namespace velkar {
void* hostModuleHandle() {
  return &hostModuleTag;
}
}  // namespace velkar

using velkar::arg;
using velkar::argPtr;
using velkar::enterCall;
using velkar::host;

extern "C" {

__attribute__((visibility("default"))) HMODULE GetModuleHandleA(LPCSTR moduleName) {
  enterCall(0, "GetModuleHandleA", {arg(moduleName)});
  if (moduleName &&
      (strcasecmp(moduleName, "VELKAR") == 0 || strcasecmp(moduleName, "VELKAR.DLL") == 0))
    return &hostModuleTag;
  return nullptr;
}

__attribute__((visibility("default"))) FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  const uintptr_t entry = reinterpret_cast<uintptr_t>(procName);
  const bool byOrdinal = entry < 0x10000;
  enterCall(0, "GetProcAddress",
            {module == &hostModuleTag ? "VELKAR" : argPtr(module),
             byOrdinal ? std::to_string(entry) : arg(procName)});
  void* address = nullptr;
  if (module == &hostModuleTag) {
    if (byOrdinal) address = velkar::hostExportFor(static_cast<int>(entry));
  } else if (velkar::PluginModule* plugin = velkar::pluginForHandle(module)) {
    if (byOrdinal) address = plugin->entry(static_cast<int>(entry));
  }
  return reinterpret_cast<FARPROC>(address);
}

__attribute__((visibility("default"))) DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName,
                                                                DWORD size) {
  enterCall(0, "GetModuleFileNameA", {argPtr(module), std::to_string(size)});
  if (host().config.moduleFileNameFails || size == 0) return 0;
  std::string path;
  if (module == &hostModuleTag)
    path = "VELKAR.dll";
  else if (velkar::PluginModule* plugin = velkar::pluginForHandle(module))
    path = plugin->path();
  else
    return 0;
  // As Windows does: a path that does not fit is cut, terminated, and the size is returned.
  const size_t n = std::min<size_t>(path.size(), size - 1);
  std::memcpy(fileName, path.data(), n);
  fileName[n] = 0;
  return path.size() >= size ? size : static_cast<DWORD>(n);
}

__attribute__((visibility("default"))) int MessageBoxA(HWND, LPCSTR text, LPCSTR caption,
                                                       unsigned type) {
  enterCall(0, "MessageBoxA", {arg(text), arg(caption), std::to_string(type)});
  auto& h = host();
  h.messageBoxes.push_back({text ? text : "", caption ? caption : "", type});
  if (h.messageBoxAnswers.empty()) return IDABORT;
  const int answer = h.messageBoxAnswers.front();
  h.messageBoxAnswers.pop_front();
  return answer;
}

// wsprintfA writes at most 1024 bytes, terminator included.
__attribute__((visibility("default"))) int wsprintfA(LPSTR out, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(out, 1024, format, args);
  va_end(args);
  return n < 0 ? 0 : (n > 1023 ? 1023 : n);
}

__attribute__((visibility("default"))) LPSTR lstrcpyA(LPSTR out, LPCSTR in) {
  return std::strcpy(out, in);
}
}

#endif
