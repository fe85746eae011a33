// Runs of the VAT update command and of its floor on a generated shop, for the benchmark and its
// test: a fresh default host in the shop folder for each run, the product file as generated.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "bench/floor.h"
#include "lookup/hooks.h"

namespace bench {

enum class Mode {
  Plain,    // the scans only
  Indexed,  // as shipped
  Replay,   // the module with each product's entry replayed from a recorded trace: no lookups
};

struct Run {
  PhaseTimes phases;
  double seconds = 0;   // the whole run, wall clock
  double cpu = 0;       // the whole run, processor time
  double matching = 0;  // finding the products' entries, index building included
  double building = 0;  // building the indexes
  MatchingControl stats{};
  uint64_t productsHash = 0;
  std::string report;
};

class Runner {
 public:
  // plugin: the module's file; dir: the folder the runs go back to when done.
  Runner(std::string plugin, std::filesystem::path dir);

  // One run of the command in shop with the product file pristine. With a recording, the journal
  // is on, the recorders take down what the floor needs and, in Indexed mode, each product's entry
  // goes into trace; otherwise the journal is off, as in the timed runs. Replay reads trace. With
  // clocked, the module reads the clock around each product's search (matching and building are
  // then set; the reads cost time of their own, so timed runs leave them out).
  bool command(const std::filesystem::path& shop, const std::filesystem::path& pristine, int format,
               Mode mode, std::vector<int32_t>& trace, Recording* recording, Run& out,
               std::string& error, bool clocked = false);

  // One run of the floor. With check (the recording it was compiled from) the floor's journal,
  // windows, open blocks and files are checked against it; otherwise it is a timed run.
  bool floor(const std::filesystem::path& shop, const std::filesystem::path& pristine, Floor& floor,
             const Recording* check, Run& out, std::string& error);

  // A recorded indexed run of the command, the floor compiled from it, and a checked run of the
  // floor that must leave the same product file and report. trace gets each product's entry.
  bool recordAndCheck(const std::filesystem::path& shop, const std::filesystem::path& pristine,
                      int format, std::vector<int32_t>& trace, Floor& floor, Run& recorded,
                      std::string& error);

 private:
  void prepare(const std::filesystem::path& shop, const std::filesystem::path& pristine,
               bool journal);
  void finish(const std::filesystem::path& shop, Run& out);

  std::string plugin_;
  std::filesystem::path dir_;
  std::ostream nowhere_{nullptr};
};

uint64_t hashFile(const std::filesystem::path& file);
std::string readAll(const std::filesystem::path& file);

}  // namespace bench
