// Matching the products of one warehouse to the rate entries, and applying the entries.
#pragma once

#include <stdint.h>

// Scans the warehouse's product file once, in the format of the run's choices (vatupdate/run.h):
// finds each product's entry (lookup/lookup.h), writes the new VAT code (or, in format 2, the CN
// code) into the record, writes back records that changed, and counts the outcomes on the
// entries.
void applyRates(int32_t warehouse);

// The host VAT code of a rate (RATE_EXEMPT or percent); false when the rate has no code.
bool vatCodeForRate(int32_t rate, uint16_t* code);
