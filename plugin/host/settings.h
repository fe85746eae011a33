// The host's settings store: the module's section, the operations, and the call.
#pragma once

// The module's section in the host's settings.
#define SETTINGS_SECTION "Mirtal"

enum {
  SETTING_READ = 1,
  SETTING_WRITE = 2,
  SETTING_READ_TEXT = 8,
  SETTING_WRITE_TEXT = 9,
};

// Reads (SETTING_READ, SETTING_READ_TEXT) or writes (SETTING_WRITE, SETTING_WRITE_TEXT) one
// setting through the host's settings store (hostSettings, which takes the arguments as a list).
int accessSetting(int operation, const char* section, const char* key, const char* format, ...);
