// The plain scans: the rate list read from its start, entry by entry. They are the reference the
// indexes answer to: an indexed lookup finds what the scan finds and leaves the marks it leaves.
#pragma once

#include "lookup/records.h"

// Room for a product name or a key as the host normalises it.
enum { WORK_TEXT_SIZE = 256 };

// Compares two texts with the case of ASCII letters ignored: <0, 0, >0 as strcmp.
int stricmpAscii(const char* a, const char* b);

// At most limit bytes of from (which may lack its zero byte) through the host's normaliseText,
// into text (WORK_TEXT_SIZE bytes), as the name scan prepares the name and each key.
void normaliseWorkText(char* text, const char* from, int limit);

// The first entry, in list order, whose key equals code with the case of ASCII letters ignored;
// null when none does. Entries with an empty key that the scan passes become RATE_INVALID.
RateEntry* scanRatesByCode(RateList& rates, const char* code);

// The first entry, in list order, whose normalised key occurs in the normalised name (shorter
// than 256 bytes); null when none does. Entries with an empty key, before or after the host's
// normalisation, that the scan passes become RATE_INVALID.
RateEntry* scanRatesByName(RateList& rates, const char* name);
