#include "shell/module.h"

#include "binding/binding.h"
#include "shell/startup.h"

static int HOST_STDCALL unused30007(int, int) {
  return 0;
}

ModuleState moduleState = {nullptr, {0}, nullptr, nullptr, nullptr, &unused30007};

const char* moduleTitle() {
  return MZ(MODULE_TITLE_UTF8);
}

char* copyTitle(char* buffer) {
  const char* title = moduleTitle();
  for (int i = 0; i < TITLE_SIZE; ++i) buffer[i] = title[i];
  return buffer;
}

const char* findLastChar(const char* text, int byte) {
  const char* last = nullptr;
  const unsigned char wanted = static_cast<unsigned char>(byte);
  for (const char* p = text; *p; ++p)
    if (static_cast<unsigned char>(*p) == wanted) last = p;
  return last;
}

void recordModuleName(HMODULE instance) {
  moduleState.ownModule = instance;
  DWORD length = GetModuleFileNameA(instance, moduleState.modulePath, MODULE_PATH_SIZE);
  // A path that fills the buffer may come without its terminator.
  if (length >= MODULE_PATH_SIZE) length = MODULE_PATH_SIZE - 1;
  moduleState.modulePath[length] = 0;

  const char* name = moduleState.modulePath;
  if (const char* backslash = findLastChar(name, '\\')) name = backslash + 1;
  if (const char* slash = findLastChar(name, '/')) name = slash + 1;
  moduleState.moduleFileName = name;
}

void attachHost() {
  if (moduleState.hostModule) return;
  moduleState.hostModule = GetModuleHandleA("VELKAR");
  if (!moduleState.hostModule) return;
  moduleState.hostCallback = procAs<HostCallback>(
      GetProcAddress(moduleState.hostModule, reinterpret_cast<LPCSTR>(HOST_ORDINAL_CALLBACK)));
  moduleState.ordinal30007 = procAs<HostCallback>(
      GetProcAddress(moduleState.hostModule, reinterpret_cast<LPCSTR>(HOST_ORDINAL_30007)));
}

// The loader's notification. Process attach records the identity, finds the host, then runs the
// load-time binding of the host functions; a binding that leaves a slot empty fails the load.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  recordModuleName(static_cast<HMODULE>(instance));
  attachHost();
  if (runHostProbes() != 0) return FALSE;
  completeStartup();
  return TRUE;
}
