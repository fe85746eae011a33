// The entry points by ordinal: start and stop, the notification after start-up, idle and the
// signature; and the command record they hand to the host.
#include "entry/entries.h"

#include "entry/menu.h"
#include "host/attach.h"
#include "host/calls.h"
#include "identity/identity.h"
#include "startup/startup.h"
#include "vatupdate/command.h"

const CommandRecord commandRecord = {COMMAND_TAG, MZ(MODULE_TITLE_UTF8), COMMAND_ID,
                                     0,           &vatUpdateCommand,     0};

int pluginStart(HostCallback callback, char* titleBuffer) {
  if (!callback) {
    host::unregisterCommand(static_cast<uint16_t>(COMMAND_ID));
    return 0;
  }
  hostAttachment.hostCallback = callback;
  if (titleBuffer) copyTitle(titleBuffer);
  host::registerCommand(&commandRecord);
  return checkRecordSizes();
}

int pluginNotify(int flag) {
  if (flag == 0)
    registerMenuOption();
  else
    showStartupFailure();
  return 0;
}

int pluginIdle(void) {
  return 0;
}

int pluginSignature(int) {
  return static_cast<int>(0xB669FD2Eu);
}

#ifndef _WIN32
// The native loader finds the entries here, by the same ordinals as the Windows export table.
extern "C" const PluginExport velkarPluginExports[] = {
#define VATUPDATE_TABLE_ROW(ordinal, name) {ordinal, reinterpret_cast<void*>(&name)},
    VATUPDATE_EXPORTS(VATUPDATE_TABLE_ROW)
#undef VATUPDATE_TABLE_ROW
        {0, nullptr}};
#endif
