// Loading a plug-in the way the host does: natively the stand-in plays the Windows loader for a
// 32-bit shared object (a fresh copy per load, process attach, exports by ordinal); on Windows it
// is LoadLibrary itself.
#pragma once

#include <memory>
#include <string>

namespace velkar {

class PluginModule {
 public:
  // Maps a fresh copy of the plug-in without running its process attach (natively; on Windows the
  // system loader always attaches). Null with a reason on failure.
  static std::unique_ptr<PluginModule> open(const std::string& path, std::string& error);

  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // Runs process attach; false when the plug-in refuses to load.
  bool attach();
  bool attached() const { return attached_; }

  // An entry point by ordinal, or null.
  void* entry(int ordinal) const;
  // Natively, any symbol of the plug-in, for tests; null on Windows.
  void* symbol(const char* name) const;

  const std::string& path() const { return path_; }
  // The module handle the plug-in sees as its own.
  void* handle() const;

 private:
  PluginModule() = default;
  std::string path_;
  void* library_ = nullptr;
  bool attached_ = false;
};

// open() and attach(); a failed attach is a failed load.
std::unique_ptr<PluginModule> loadPlugin(const std::string& path, std::string& error);

// Natively, the plug-in module that owns a handle, or null.
PluginModule* pluginForHandle(void* handle);

}  // namespace velkar
