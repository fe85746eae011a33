// The loader's notification. Process attach records the identity, finds the host, then runs the
// load-time binding of the host functions; a binding that leaves a slot empty fails the load.
#include "host/attach.h"
#include "host/binding.h"
#include "identity/identity.h"
#include "platform/platform.h"
#include "startup/startup.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  recordModuleName(static_cast<HMODULE>(instance));
  attachHost();
  if (runHostProbes() != 0) return FALSE;
  completeStartup();
  return TRUE;
}
