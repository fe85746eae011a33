// The change report "zmianavat.txt" and the summary of a run.
#pragma once

#include "vatupdate/records.h"

// The report's name, without a directory: the host and the C runtime both take it in the shop
// folder.
#define REPORT_FILE_NAME "zmianavat.txt"

// Writes one line per changed, unchanged or invalid entry of the run's rate list, releases the run
// (releaseCommandRun), shows the summary and asks the host to show the report.
void writeChangeReport();
