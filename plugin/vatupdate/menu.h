// Menu registration, settings access and the formatted message window.
#pragma once

#include "binding/host_list.h"

// Adds the command to the host's "Inne" menu once, remembered in the setting "Pytaj".
int registerMenuOption();

// Reads (operations 1, 8) or writes (2, 9) one setting through the host's settings store.
int accessSetting(int operation, const char* section, const char* key, const char* format, ...);

// A formatted host message window.
int showFormattedMessage(const char* caption, const char* format, int style, ...);
