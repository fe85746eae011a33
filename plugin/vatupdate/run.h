// One run of the VAT update command: everything it holds, in one record, and its one release.
#pragma once

#include <stdint.h>

#include "lookup/lookup.h"
#include "lookup/records.h"
#include "vatupdate/records.h"

struct CommandRun {
  ImportDialogData choices;   // the rate file's name and format: the import dialog's data block
  int32_t warehouse;          // as chosen (negative: none), or as read from the settings
  RateList rates;             // the rate file's entries, with their match counters
  ExtraCodeIndex extraCodes;  // the additional barcodes of the warehouse's products
  ProductLookup lookup;       // the indexes of the product pass and how far its lookups passed
};

// The command fills in the choices and the warehouse; readRateFile, buildExtraCodeIndex and
// applyRates the lists and the lookup. The lists and the lookup hold nothing whenever the command
// is not running; the choices stay as the latest run left them.
extern CommandRun commandRun;

// Releases all a run holds: the rate list first, then the additional codes, then whatever the
// lookup still holds (applyRates releases its indexes as its pass ends). Called where the run
// ends: by the report before its summary, by the command when memory runs out while reading, and
// on every other way out of the command; what holds nothing makes no host call.
void releaseCommandRun();
