// The benchmark's floor makes the command's host calls: on small generated shops of every format
// its journal is the command's, call by call, and it leaves the same product file, report and
// windows; a floor that reads other data than the command read, a recording with a call the floor
// does not make, and recorded values that are not the command's are all caught.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "bench/runner.h"
#include "bench/shopgen.h"
#include "velkar/shop/shop.h"

namespace fs = std::filesystem;
using bench::NameData;

namespace {

class FloorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("vatupdate-floor-test-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    dir = fs::canonical(dir);
    shop = dir / "shop";
    pristine = dir / "products";
    runner = std::make_unique<bench::Runner>(VATUPDATE_PLUGIN, dir);
  }
  void TearDown() override {
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(dir);
  }

  // The shop generated, its product file kept apart as pristine.
  void generate(const bench::ShopSpec& spec) {
    std::string error;
    ASSERT_TRUE(bench::generate(spec, shop, error)) << error;
    fs::copy_file(shop / velkar::shop::warehouseFileName(bench::WAREHOUSE), pristine,
                  fs::copy_options::overwrite_existing);
    trace.assign(static_cast<size_t>(spec.products), -1);
  }

  // A recorded run of the command and the floor compiled from it.
  void recordAndCompile(int format) {
    std::string error;
    ASSERT_TRUE(runner->command(shop, pristine, format, bench::Mode::Indexed, trace, &recording,
                                recorded, error))
        << error;
    ASSERT_TRUE(floor.compile(recording, format, pristine,
                              shop / velkar::shop::warehouseFileName(bench::WAREHOUSE), error))
        << error;
  }

  fs::path dir, shop, pristine;
  std::unique_ptr<bench::Runner> runner;
  std::vector<int32_t> trace;
  bench::Recording recording;
  bench::Floor floor;
  bench::Run recorded;
};

TEST_F(FloorTest, MakesTheCommandsCallsInEveryFormat) {
  const bench::ShopSpec specs[] = {{0, 400, 400, NameData::Typical, 1},
                                   {2, 400, 400, NameData::Typical, 2},
                                   {1, 300, 60, NameData::Typical, 3},
                                   {1, 300, 60, NameData::Worst, 4}};
  for (const bench::ShopSpec& spec : specs) {
    SCOPED_TRACE(bench::describe(spec));
    generate(spec);
    std::string error;
    bench::Floor checked;
    bench::Run run;
    ASSERT_TRUE(runner->recordAndCheck(shop, pristine, spec.format, trace, checked, run, error))
        << error;
    EXPECT_GT(checked.calls(), static_cast<size_t>(spec.products) * 4);
    EXPECT_NE(run.report, "");
    EXPECT_NE(run.productsHash, bench::hashFile(pristine)) << "the command changed no record";

    // A timed run, with the journal off, does the same work and goes through every phase.
    bench::Run timed;
    ASSERT_TRUE(runner->floor(shop, pristine, checked, nullptr, timed, error)) << error;
    EXPECT_EQ(timed.productsHash, run.productsHash);
    EXPECT_EQ(timed.report, run.report);
    for (int p = bench::PHASE_RATE_FILE; p < bench::PHASES; ++p)
      EXPECT_TRUE(timed.phases.seen[p]) << bench::phaseNames[p];
    EXPECT_FALSE(timed.phases.seen[bench::PHASE_PREAMBLE]);
  }
}

TEST_F(FloorTest, ACheckedRunFailsWhenTheHostGivesOtherLinesOrNames) {
  std::string error;
  bench::Run run;

  // Format 0: one line of the rate file changed after the recording.
  generate({0, 200, 200, NameData::Typical, 5});
  recordAndCompile(0);
  std::string rates = bench::readAll(shop / bench::RATE_FILE);
  rates[rates.find("\r\n") + 2] ^= 1;  // the first digit of the first code
  std::ofstream(shop / bench::RATE_FILE, std::ios::binary | std::ios::trunc) << rates;
  EXPECT_FALSE(runner->floor(shop, pristine, floor, &recording, run, error));
  EXPECT_NE(error.find("differs"), std::string::npos) << error;
  EXPECT_NE(error.find("getField"), std::string::npos) << error;

  // Format 1: the floor normalises the names it finds in the record buffer.
  recording = {};
  error.clear();
  generate({1, 200, 40, NameData::Typical, 6});
  recordAndCompile(1);
  std::string products = bench::readAll(pristine);
  products[static_cast<size_t>(7 * velkar::shop::PRODUCT_RECORD_SIZE) + 2] ^= 1;
  const fs::path other = dir / "other";
  std::ofstream(other, std::ios::binary) << products;
  EXPECT_FALSE(runner->floor(shop, other, floor, &recording, run, error));
  EXPECT_NE(error.find("normaliseText"), std::string::npos) << error;
}

TEST_F(FloorTest, RefusesACallItDoesNotMake) {
  generate({2, 50, 50, NameData::Typical, 7});
  std::string error;
  ASSERT_TRUE(
      runner->command(shop, pristine, 2, bench::Mode::Indexed, trace, &recording, recorded, error))
      << error;
  recording.journal.push_back({52030, "showText", {"\"?\""}});
  EXPECT_FALSE(floor.compile(recording, 2, pristine,
                             shop / velkar::shop::warehouseFileName(bench::WAREHOUSE), error));
  EXPECT_NE(error.find("showText"), std::string::npos) << error;
}

// printToFile's values are not in the journal: the report, and the window that shows it, tell
// whether the floor passed the command's.
TEST_F(FloorTest, OtherPrintedValuesShowInTheReportAndItsWindow) {
  generate({0, 100, 100, NameData::Typical, 8});
  std::string error;
  ASSERT_TRUE(
      runner->command(shop, pristine, 0, bench::Mode::Indexed, trace, &recording, recorded, error))
      << error;
  ASSERT_FALSE(recording.prints.empty());
  ASSERT_GE(recording.prints[0].size(), 2u);
  recording.prints[0][1].number += 1000;
  ASSERT_TRUE(floor.compile(recording, 0, pristine,
                            shop / velkar::shop::warehouseFileName(bench::WAREHOUSE), error))
      << error;
  bench::Run run;
  EXPECT_FALSE(runner->floor(shop, pristine, floor, &recording, run, error));
  EXPECT_NE(error.find("windows"), std::string::npos) << error;
  EXPECT_NE(run.report, recorded.report);
  EXPECT_EQ(run.productsHash, recorded.productsHash);
}

}  // namespace
