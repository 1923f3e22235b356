// The plug-in loaded as a host loads it, its two working exports looked up
// by name, and a fresh folder for the files a test writes.
#ifndef PNGCOMMENT_TESTS_PLUGIN_HOST_FIXTURE_H
#define PNGCOMMENT_TESTS_PLUGIN_HOST_FIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

#include "tools/plugin_loader.h"

class PluginHostFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.loaded()) << "cannot load " << PNGC_LIBRARY_NAME;
    get_comment_ = library_.Get<GetCommentFn>("GetComment");
    write_comment_ = library_.Get<WriteCommentFn>("WriteComment");
    ASSERT_TRUE(get_comment_ != nullptr && write_comment_ != nullptr);
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("pngc-") + test->test_suite_name() + "-" + test->name();
    for (char& c : name) {
      if (c == '/') c = '_';  // parameterised tests
    }
    folder_ = std::filesystem::temp_directory_path() /
              (name + "-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  PluginLibrary library_{PNGC_LIBRARY_NAME};
  GetCommentFn get_comment_ = nullptr;
  WriteCommentFn write_comment_ = nullptr;
  std::filesystem::path folder_;
};

#endif
