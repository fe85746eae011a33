// Menu registration: the command in the host's "Inne" menu, once.
#include "entry/menu.h"

#include <stdint.h>

#include "common/mazovia.h"
#include "host/calls.h"
#include "host/codes.h"
#include "host/messages.h"
#include "host/settings.h"
#include "identity/identity.h"

#define SETTING_ASK "Pytaj"

int registerMenuOption() {
  // 32 bits set to zero, of which the low 16 are the value: a host that writes 16 bits and one
  // that writes 32 both leave the same value.
  int32_t ask = 0;
  const int read = accessSetting(SETTING_READ, SETTINGS_SECTION, SETTING_ASK, "%d", &ask);
  if ((read & 0xFFFF) != 0)
    ask = 0;  // not read: register
  else if (static_cast<int16_t>(ask) != 0)
    return 0;  // already in the menu

  char label[TITLE_SIZE];
  copyTitle(label);
  host::addMenuOption(MENU_OTHER, &ask, 0, label);

  // Whatever the host left in the value is what the next start finds.
  accessSetting(SETTING_WRITE, SETTINGS_SECTION, SETTING_ASK, "%d",
                static_cast<int>(static_cast<int16_t>(ask)));
  showFormattedMessage(MZ("uwaga"), MZ("Dodano opcję w menu Inne:\x02 %s"), MESSAGE_NOTICE,
                       moduleTitle(), 0);
  return 0;
}
