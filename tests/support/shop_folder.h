// A fresh host working in an empty shop folder of its own, removed after the test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "velkar/core/host_state.h"

namespace testing_support {

// A folder name of its own for the running test: the prefix, the process and the test's name,
// with the "/" of a parameterised test's name ("Case/0") made "_", so that it names one folder
// (a "/" would make the folder a subfolder, and removing it would leave its parent behind).
inline std::string testFolderName(const std::string& prefix) {
  std::string name = prefix + std::to_string(getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name();
  for (char& c : name)
    if (c == '/' || c == '\\') c = '_';
  return name;
}

class ShopFolderTest : public ::testing::Test {
 protected:
  explicit ShopFolderTest(const char* prefix) : prefix_(prefix) {}

  void SetUp() override {
    velkar::resetHost();
    dir = std::filesystem::temp_directory_path() / testFolderName(prefix_);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    velkar::host().shopDir = dir;
  }
  void TearDown() override {
    velkar::resetHost();
    std::filesystem::remove_all(dir);
  }

  std::filesystem::path dir;

 private:
  std::string prefix_;
};

}  // namespace testing_support
