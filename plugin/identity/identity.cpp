#include "identity/identity.h"

ModuleIdentity moduleIdentity = {nullptr, {0}, nullptr};

const char* moduleTitle() {
  return MZ(MODULE_TITLE_UTF8);
}

char* copyTitle(char* buffer) {
  const char* title = moduleTitle();
  for (int i = 0; i < TITLE_SIZE; ++i) buffer[i] = title[i];
  return buffer;
}

const char* moduleFileNameText() {
  return moduleIdentity.moduleFileName ? moduleIdentity.moduleFileName : "";
}

const char* findLastChar(const char* text, int byte) {
  const char* last = nullptr;
  const unsigned char wanted = static_cast<unsigned char>(byte);
  for (const char* p = text; *p; ++p)
    if (static_cast<unsigned char>(*p) == wanted) last = p;
  return last;
}

void recordModuleName(HMODULE instance) {
  moduleIdentity.ownModule = instance;
  DWORD length = GetModuleFileNameA(instance, moduleIdentity.modulePath, MODULE_PATH_SIZE);
  // A path that fills the buffer may come without its terminator.
  if (length >= MODULE_PATH_SIZE) length = MODULE_PATH_SIZE - 1;
  moduleIdentity.modulePath[length] = 0;

  const char* name = moduleIdentity.modulePath;
  if (const char* backslash = findLastChar(name, '\\')) name = backslash + 1;
  if (const char* slash = findLastChar(name, '/')) name = slash + 1;
  moduleIdentity.moduleFileName = name;
}
