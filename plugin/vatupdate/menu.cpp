// Menu registration, settings access and the formatted message window.
#include "vatupdate/menu.h"

#include <stdarg.h>
#include <stdint.h>

#include "binding/host.h"
#include "common/mazovia.h"
#include "shell/module.h"

enum { MENU_OTHER = 1194 };  // the host's "Inne" menu
enum { SETTING_READ = 1, SETTING_WRITE = 2, MESSAGE_STYLE = 1 };

#define SETTINGS_SECTION "Mirtal"
#define SETTING_ASK "Pytaj"

int accessSetting(int operation, const char* section, const char* key, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = host::hostSettings(operation, section, key, format, args);
  va_end(args);
  return result;
}

int showFormattedMessage(const char* caption, const char* format, int style, ...) {
  va_list args;
  va_start(args, style);
  const int result = host::showMessageList(0, caption, format, style, args);
  va_end(args);
  return result;
}

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
  showFormattedMessage(MZ("uwaga"), MZ("Dodano opcję w menu Inne:\x02 %s"), MESSAGE_STYLE,
                       moduleTitle(), 0);
  return 0;
}
