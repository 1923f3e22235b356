// The plug-in loaded as a host loads it, its two working exports looked up
// by name, and a fresh folder for the files a test writes.
#ifndef PNGCOMMENT_TESTS_PLUGIN_HOST_FIXTURE_H
#define PNGCOMMENT_TESTS_PLUGIN_HOST_FIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tests/support/files.h"
#include "tests/support/gtest_bytes.h"
#include "tools/plugin_loader.h"

class PluginHostFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.loaded()) << "cannot load " << PNGC_LIBRARY_NAME;
    get_comment_ = library_.Get<GetCommentFn>("GetComment");
    write_comment_ = library_.Get<WriteCommentFn>("WriteComment");
    ASSERT_TRUE(get_comment_ != nullptr && write_comment_ != nullptr);
  }

  PluginLibrary library_{PNGC_LIBRARY_NAME};
  GetCommentFn get_comment_ = nullptr;
  WriteCommentFn write_comment_ = nullptr;
  pngtest::ScratchFolder scratch_{
      "pngc-" + pngtest::CurrentTestName() + "-" +
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())};
  const std::filesystem::path& folder_ = scratch_.path();
};

#endif
