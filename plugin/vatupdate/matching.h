// Matching the products of one warehouse to the rate entries, and applying the entries.
#pragma once

#include "vatupdate/records.h"

// Scans the warehouse's product file once: finds each product's entry, writes the new VAT code
// (or, in format 2, the CN code) into the record, writes back records that changed, and counts
// the outcomes on the entries.
void applyRates(int32_t warehouse);

// The first entry, in list order, whose key equals code with the case of ASCII letters ignored;
// null when none does. Entries with an empty key that the search passes become RATE_INVALID.
RateEntry* findRateByCode(const char* code);
// The plain scan behind findRateByCode.
RateEntry* findRateByCodeScan(const char* code);

// The first entry, in list order, whose normalised key occurs in the normalised name (shorter
// than 256 bytes); null when none does. Entries with an empty key, before or after the host's
// normalisation, that the search passes become RATE_INVALID.
RateEntry* findRateByName(const char* name);
// The plain scan behind findRateByName.
RateEntry* findRateByNameScan(const char* name);

// Compares two texts with the case of ASCII letters ignored: <0, 0, >0 as strcmp.
int stricmpAscii(const char* a, const char* b);

// The host VAT code of a rate (RATE_EXEMPT or percent); false when the rate has no code.
bool vatCodeForRate(int32_t rate, uint16_t* code);
