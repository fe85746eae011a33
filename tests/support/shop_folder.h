// A fresh host working in an empty shop folder of its own, removed after the test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "velkar/host.h"

namespace testing_support {

class ShopFolderTest : public ::testing::Test {
 protected:
  explicit ShopFolderTest(const char* prefix) : prefix_(prefix) {}

  void SetUp() override {
    velkar::resetHost();
    dir = std::filesystem::temp_directory_path() /
          (prefix_ + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
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
