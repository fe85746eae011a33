// The module's identity: its own instance handle, the path and name of its file, and its title.
// One static record, alive while the library is loaded.
#pragma once

#include "common/mazovia.h"
#include "platform/platform.h"

enum { MODULE_PATH_SIZE = 300, TITLE_SIZE = 36 };

#define MODULE_TITLE_UTF8 "Aktualizacja VAT z pliku tekstowego"
static_assert(MZ_SIZE(MODULE_TITLE_UTF8) == TITLE_SIZE, "the title is 35 characters and a zero");

struct ModuleIdentity {
  HMODULE ownModule;                  // the library's own instance handle
  char modulePath[MODULE_PATH_SIZE];  // full path of the library file
  const char* moduleFileName;         // name part of modulePath
};

extern ModuleIdentity moduleIdentity;

// The module title in the host code page, 36 bytes with its terminator.
const char* moduleTitle();

// Copies the 36 bytes of the title, terminator included, into buffer; returns buffer.
char* copyTitle(char* buffer);

// The module file name for texts; empty before recordModuleName has recorded it.
const char* moduleFileNameText();

// Pointer to the last occurrence of byte (compared unsigned) in text, or null.
const char* findLastChar(const char* text, int byte);

void recordModuleName(HMODULE instance);
