#include "velkar/loader/loader.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "plugin/entry/entries.h"
#include "velkar/core/host_state.h"

#ifdef _WIN32

namespace velkar {

std::unique_ptr<PluginModule> PluginModule::open(const std::string& path, std::string& error) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (!library) {
    error = "the plug-in " + path + " could not be loaded (error " +
            std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  std::unique_ptr<PluginModule> plugin(new PluginModule);
  plugin->path_ = path;
  plugin->library_ = library;
  plugin->attached_ = true;
  return plugin;
}

PluginModule::~PluginModule() {
  if (library_) FreeLibrary(static_cast<HMODULE>(library_));
}

bool PluginModule::attach() {
  return attached_;
}

void* PluginModule::entry(int ordinal) const {
  return reinterpret_cast<void*>(GetProcAddress(
      static_cast<HMODULE>(library_), reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(ordinal))));
}

void* PluginModule::symbol(const char*) const {
  return nullptr;
}
void* PluginModule::handle() const {
  return library_;
}
PluginModule* pluginForHandle(void*) {
  return nullptr;
}

}  // namespace velkar

#else  // the native loader

#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <unistd.h>

#include <fstream>

namespace velkar {

static std::set<PluginModule*>& openPlugins() {
  static std::set<PluginModule*> plugins;
  return plugins;
}

PluginModule* pluginForHandle(void* handle) {
  auto* plugin = static_cast<PluginModule*>(handle);
  return openPlugins().count(plugin) ? plugin : nullptr;
}

// dlopen maps a path once; a copy under a new name is a fresh module with fresh static state.
static std::string freshCopy(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "the plug-in " + path + " cannot be read";
    return {};
  }
  char name[] = "/tmp/velkar-plugin-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) {
    error = "no temporary file for the plug-in";
    return {};
  }
  char buffer[65536];
  bool ok = true;
  while (in && ok) {
    in.read(buffer, sizeof buffer);
    const std::streamsize n = in.gcount();
    ok = n <= 0 || write(fd, buffer, static_cast<size_t>(n)) == n;
  }
  close(fd);
  if (!ok) {
    unlink(name);
    error = "the plug-in could not be copied";
    return {};
  }
  return name;
}

std::unique_ptr<PluginModule> PluginModule::open(const std::string& path, std::string& error) {
  const std::string copy = freshCopy(path, error);
  if (copy.empty()) return nullptr;
  void* library = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  unlink(copy.c_str());
  if (!library) {
    error = "the plug-in " + path + " could not be loaded: " + dlerror();
    return nullptr;
  }
  std::unique_ptr<PluginModule> plugin(new PluginModule);
  plugin->path_ = path;
  plugin->library_ = library;
  openPlugins().insert(plugin.get());
  return plugin;
}

typedef HOST_STDCALL BOOL (*DllEntry)(HINSTANCE, DWORD, LPVOID);

PluginModule::~PluginModule() {
  if (attached_) {
    if (auto dllMain = reinterpret_cast<DllEntry>(symbol("DllMain")))
      dllMain(this, DLL_PROCESS_DETACH, nullptr);
  }
  openPlugins().erase(this);
  if (library_) dlclose(library_);
}

bool PluginModule::attach() {
  auto dllMain = reinterpret_cast<DllEntry>(symbol("DllMain"));
  if (!dllMain) return false;
  attached_ = dllMain(this, DLL_PROCESS_ATTACH, nullptr) != 0;
  return attached_;
}

void* PluginModule::entry(int ordinal) const {
  auto* table = static_cast<const PluginExport*>(symbol("velkarPluginExports"));
  for (; table && table->ordinal; ++table)
    if (static_cast<int>(table->ordinal) == ordinal) return table->address;
  return nullptr;
}

void* PluginModule::symbol(const char* name) const {
  return dlsym(library_, name);
}
void* PluginModule::handle() const {
  return const_cast<PluginModule*>(this);
}

}  // namespace velkar

#endif

namespace velkar {

std::unique_ptr<PluginModule> loadPlugin(const std::string& path, std::string& error) {
  auto plugin = PluginModule::open(path, error);
  if (!plugin) return nullptr;
  if (!plugin->attach()) {
    error = "the plug-in " + path + " refused to load (its process attach failed)";
    return nullptr;
  }
  return plugin;
}

}  // namespace velkar
