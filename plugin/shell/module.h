// The module's identity and its attachment to the host: one static state, alive while the library
// is loaded.
#pragma once

#include "binding/host_list.h"
#include "common/mazovia.h"

enum { MODULE_PATH_SIZE = 300, TITLE_SIZE = 36 };

#define MODULE_TITLE_UTF8 "Aktualizacja VAT z pliku tekstowego"
static_assert(MZ_SIZE(MODULE_TITLE_UTF8) == TITLE_SIZE, "the title is 35 characters and a zero");

struct ModuleState {
  HMODULE ownModule;                  // the library's own instance handle
  char modulePath[MODULE_PATH_SIZE];  // full path of the library file
  const char* moduleFileName;         // name part of modulePath
  HMODULE hostModule;                 // "VELKAR", or null when it is not loaded
  HostCallback hostCallback;          // ordinal 30006, replaced by entry 30001
  HostCallback ordinal30007;          // looked up at attach, never called
};

extern ModuleState moduleState;

// The module title in the host code page, 36 bytes with its terminator.
const char* moduleTitle();

// Copies the 36 bytes of the title, terminator included, into buffer; returns buffer.
char* copyTitle(char* buffer);

// Pointer to the last occurrence of byte (compared unsigned) in text, or null.
const char* findLastChar(const char* text, int byte);

void recordModuleName(HMODULE instance);
void attachHost();
