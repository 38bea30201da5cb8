// The generated footage of tests/footage.h (320 x 240) as a test suite's
// fixture: made once for the suite in a temporary folder named after it and
// removed after it; every test skips where ffmpeg is missing.
#ifndef ZEMIVTC_TESTS_FOOTAGE_SUITE_H
#define ZEMIVTC_TESTS_FOOTAGE_SUITE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/command_line.h"
#include "tests/footage.h"

namespace testing_support {

class FootageSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveFfmpeg()) return;
    dir = MakeTempDir(::testing::UnitTest::GetInstance()->current_test_suite()->name());
    truth = footage::MakeFootage(dir, 320, 240);
  }
  static void TearDownTestSuite() {
    if (!dir.empty()) std::system(("rm -rf " + dir).c_str());
    dir.clear();
  }
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; `make deps` installs it";
  }
  static inline std::string dir;
  static inline footage::Truth truth;
};

}  // namespace testing_support

#endif
