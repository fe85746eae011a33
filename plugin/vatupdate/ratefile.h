// Reading the rate file into the rate list.
#pragma once

#include "vatupdate/records.h"

// Copies one complete entry to the end of the rate list. 0 = stored; 1 = memory ran out (the user
// has been told, the list is as it was).
int appendRate(const RateEntry* entry);

// Reads the rate file line by line into the rate list. 0 = read to its end or stopped by the user;
// -1 = the file could not be opened; 1 = memory ran out (the caller releases the lists).
int readRateFile(const char* fileName, int format);

// Parses one line of the rate file into entry. false = the line is skipped.
bool parseRateLine(const char* line, int format, RateEntry* entry);

// Releases the rate list: null, 0, 0 afterwards.
void releaseRateList();

// Shows the host's out-of-memory message ("Za mało pamięci", title "uwaga").
void showOutOfMemory();
