// The module's internals as the native tests and benchmark reach them: one table of typed
// pointers to its functions and state, filled by the module itself, so that a changed signature
// fails the build instead of a look-up by name. Only the native shared object has it; the DLL
// that ships neither holds nor exports it.
#pragma once

#include <stdint.h>

#include "host/attach.h"
#include "host/binding.h"
#include "host/command_record.h"
#include "host/host_list.h"
#include "host/tables.h"
#include "identity/identity.h"
#include "platform/platform.h"
#include "lookup/hooks.h"
#include "lookup/records.h"
#include "vatupdate/dialog_description.h"
#include "vatupdate/records.h"
#include "vatupdate/run.h"

// Every member is a plain pointer, none null once filled: a loader may read the table as an
// array of MODULE_INTERNALS_COUNT addresses to check that.
struct ModuleInternals {
  // --- identity/ ---
  ModuleIdentity* moduleIdentity;
  void (*recordModuleName)(HMODULE instance);
  const char* (*findLastChar)(const char* text, int byte);

  // --- host/ ---
  HostAttachment* hostAttachment;
  void (*attachHost)();
  void** hostSlots;  // HOST_FUNCTION_COUNT slots, in table order
  int32_t* ignoreAllMissing;
  void* const* fallbackStubs;  // FALLBACK_STUB_COUNT stubs
  void (*chooseFallback)(HostEntryRef entry, void** slot);
  void* (*typedFallbackAt)(int index);
  int (*accessSetting)(int operation, const char* section, const char* key, const char* format,
                       ...);
  int (*showFormattedMessage)(const char* caption, const char* format, int style, ...);

  // --- startup/ ---
  uint32_t* missingFeatures;
  TableDescriptor** productTable;
  TableDescriptor** extraCodeTable;
  int (*checkRecordSizes)();
  int (*checkVersion)();
  void (*showStartupFailure)();
  int (*compareBuildDates)(uint32_t hostDate, uint32_t moduleDate, int mode, char* buffer);
  int (*registerTableSizes)();
  int (*reportTableSizes)(char* buffer);

  // --- vatupdate/: the import dialog ---
  const DialogDescription* importDialogDescription;
  int(HOST_STDCALL* importDialogKeys)(unsigned short key, unsigned short item);

  // --- vatupdate/ and lookup/: a run of the command (its record holds the choices, the rate
  // list and the additional-code index), reading, matching and the report ---
  CommandRun* commandRun;
  void (*releaseCommandRun)();
  MatchingControl* matchingControl;
  int (*readRateFile)(const char* fileName, int format);
  int (*appendRate)(const RateEntry* entry);
  void (*releaseRateList)();
  void (*buildExtraCodeIndex)(int32_t warehouse);
  void (*releaseExtraCodeIndex)();
  void (*applyRates)(int32_t warehouse);
  RateEntry* (*scanRatesByCode)(RateList& rates, const char* code);
  RateEntry* (*scanRatesByName)(RateList& rates, const char* name);
  void (*writeChangeReport)();
  void(HOST_CDECL* vatUpdateCommand)(void);

  // --- entry/ ---
  const CommandRecord* commandRecord;
  BOOL(WINAPI* dllMain)(HINSTANCE instance, DWORD reason, LPVOID reserved);
};

enum { MODULE_INTERNALS_COUNT = sizeof(ModuleInternals) / sizeof(void*) };

// The table's one exported name, and its shape.
#define MODULE_INTERNALS_SYMBOL "velkarModuleInternals"
typedef const ModuleInternals* (*ModuleInternalsFunction)(void);

extern "C" const ModuleInternals* velkarModuleInternals(void);
