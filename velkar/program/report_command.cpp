// velkar report: zmianavat.txt, which the plug-in writes in the host's code page, shown in the
// terminal's character set.
#include "velkar/program/report_command.h"

#include <filesystem>
#include <iostream>
#include <string>

#include "velkar/program/check_rates.h"
#include "velkar/shop/codepage.h"
#include "velkar/program/args.h"
#include "velkar/shop/shop.h"

namespace fs = std::filesystem;

namespace velkar::program {
namespace {

const char* const reportUsage =
    "usage: velkar report --shop DIR [--charset NAME]\n"
    "\n"
    "Shows the report of the last run of the plug-in's command in a shop folder (zmianavat.txt,\n"
    "written in the host's code page) in the terminal's character set.\n"
    "\n"
    "  --charset NAME    the output's character set: utf-8, windows-1250, mazovia, or another\n"
    "                    name the system knows (default: the terminal's)\n";

}  // namespace

int reportCommand(int argc, char** argv) {
  Args args;
  std::string error;
  if (!parseArgs(argc, argv, 2, {{"shop", true}, {"charset", true}}, args, error)) {
    std::cerr << "velkar report: " << error << " (try --help)\n";
    return 2;
  }
  if (args.help) {
    std::cout << reportUsage;
    return 0;
  }
  if (!args.positional.empty() || !args.has("shop")) {
    std::cerr << "velkar report: --shop DIR is needed (try --help)\n";
    return 2;
  }
  const fs::path shopDir = *args.value("shop");
  std::error_code ec;
  if (!fs::is_directory(shopDir, ec)) return fail(1, "no shop folder " + shopDir.string());
  const fs::path file = shopDir / shop::REPORT_FILE;
  if (!fs::exists(file, ec))
    return fail(1, "no report in " + shopDir.string() +
                       ": the command writes zmianavat.txt at its end (and deletes the previous "
                       "one at its start), so it has not run there, or did not get that far");
  std::string bytes;
  if (!shop::readWholeFile(file, bytes, error)) return fail(1, error);
  std::string text;
  for (char c : codepage::toUtf8(bytes, codepage::MAZOVIA))
    if (c != '\r') text += c;
  if (text.empty())
    std::cerr << "velkar report: the report is empty: no line of the rate file reached a "
                 "product\n";
  checkrates::writeTerminal(text, args.value("charset").value_or(""));
  return 0;
}

}  // namespace velkar::program
