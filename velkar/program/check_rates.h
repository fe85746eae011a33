// velkar check-rates: what the plug-in makes of each line of a rate file, for whoever receives
// such a file from a shop.
//
// Every verdict comes from the plug-in itself: it is loaded and its command run, in this process,
// on scratch shops in a temporary folder (one product per key the plug-in took from the file),
// and its answer is read from the call journal, the product files and the report. The
// rate-to-VAT-code table is observed the same way. Only the reasons given for skipped lines and
// the warnings about the file as a whole are the checker's own reading of the file's shape.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "velkar/shop/shop.h"

namespace velkar::checkrates {

struct Options {
  std::filesystem::path file;    // the rate file
  std::filesystem::path plugin;  // the plug-in to ask
  int format = 0;                // 0 barcode and rate, 1 name fragment and rate, 2 barcode and CN
  std::optional<std::filesystem::path> shop;  // a dry run on a copy of this shop's warehouse
  int warehouse = -1;
};

struct LineReport {
  int number = 0;     // from 1
  std::string bytes;  // the line as it stands in the file, without its line end
  std::string seen;   // the line as the plug-in got it from the host (at most 255 bytes)
  bool accepted = false;
  std::string key;             // the plug-in's key, in the host's code page
  int rate = 0;                // as the plug-in stored it (-1 exempt); 0 in format 2
  std::optional<int> vatCode;  // formats 0, 1: the code written; none when the rate has none
  std::string cnCode;          // format 2: the CN code written
  int repeats = 0;             // accepted, but an earlier accepted line has the same key
  int shadowedBy = 0;          // format 1: an earlier accepted key occurs within this key
  std::string reason;          // skipped: why, as far as the shape of the line tells
  // The dry run (--shop): products of the warehouse this line changes, and that already hold
  // its value; -1 when there was no dry run.
  int changes = -1, holds = 0;
};

struct Warning {
  std::string id;  // a short stable name: "semicolon", "bom", "fraction", ...
  std::string text;
  std::vector<int> lines;  // the lines concerned (empty: the file as a whole)
};

struct Result {
  std::vector<LineReport> lines;
  int accepted = 0;               // lines the plug-in reads into its list
  std::map<int, int> vatCodes;    // rate (-1 exempt) -> VAT code, as the plug-in writes them
  std::vector<Warning> warnings;  // in a fixed order
  // The dry run.
  bool dryRun = false;
  int productCount = 0;
  std::vector<shop::ProductRow> unreached;  // products no line reaches
  std::string note;                         // what the check could not establish, if anything

  const Warning* warning(const std::string& id) const;
};

// Runs the check. False with a reason when it cannot be made (no file, the plug-in does not
// load or start, no product file for the warehouse).
bool checkRates(const Options& options, Result& result, std::string& error);

// The result as a person reads it, in UTF-8.
std::string describe(const Options& options, const Result& result);

// Text for the terminal: UTF-8 converted to the terminal's character set (the locale's, or
// `charset` when given), written to standard output.
void writeTerminal(const std::string& utf8, const std::string& charset = "");

}  // namespace velkar::checkrates

namespace velkar::program {

// velkar check-rates; the program's exit status.
int checkRatesCommand(int argc, char** argv);

}  // namespace velkar::program
