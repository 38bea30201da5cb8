// zemivtc plan --review, --keep and the timeline: the review on generated
// footage lists every place where the plan is wrong within its share of
// the positions, a real browser shows its page with every thumbnail, kept
// codes survive a new plan that fits around them, the keep file's refusals
// name their lines, and the timeline keeps its size at film length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "analysis/keep.h"
#include "cli/review.h"
#include "cli/timeline.h"
#include "tests/command_line.h"
#include "tests/footage.h"

namespace {

using testing_support::CommandResult;
using testing_support::HaveFfmpeg;
using testing_support::MakeTempDir;
using testing_support::ReadAll;
using testing_support::RunShell;
using testing_support::WriteAll;

// Where a plan goes wrong against the footage's known fields: a position
// whose code shows something that is not one picture (a combed weave, a
// field rebuilt alone while its partner lies beside it), every position
// showing a picture that is shown twice, and the positions that could show
// a picture shown nowhere (any one of them puts it right). Mistakes inside
// a still scene, where every field shows the same content, change no
// output frame and are not counted.
struct Mistakes {
  std::set<int> wrong;
  std::vector<std::vector<int>> missing;
};

Mistakes FindMistakes(const footage::Truth& t, const std::string& plan) {
  const int count = static_cast<int>(plan.size());
  const auto& pic = t.fieldPictures;
  auto still = [&](int p) {
    for (int f = std::max(0, p - 2); f <= std::min(count, p + 3); ++f)
      if (t.fieldContents[f] != t.fieldContents[p]) return false;
    return true;
  };
  std::vector<int> run(count + 1, 0);  // the picture run of each field
  for (int f = 1; f <= count; ++f) run[f] = run[f - 1] + (pic[f] != pic[f - 1]);
  std::vector<std::vector<int>> shows(run[count] + 1), fieldsOf(run[count] + 1);
  for (int f = 0; f <= count; ++f) fieldsOf[run[f]].push_back(f);
  Mistakes m;
  for (int p = 0; p < count; ++p) {
    const char c = plan[p];
    if (c == '1' || c == '3') {
      if (pic[p] == pic[p + 1])
        shows[run[p]].push_back(p);
      else if (!still(p))
        m.wrong.insert(p);
    }
    const int f = analysis::RebuiltField(c, p);
    if (f >= 0) {
      if (fieldsOf[run[f]].size() == 1)
        shows[run[f]].push_back(p);
      else if (!still(p))
        m.wrong.insert(p);
    }
  }
  for (size_t r = 0; r < shows.size(); ++r) {
    const std::vector<int>& fields = fieldsOf[r];
    if (still(fields.front()) && still(fields.back())) continue;
    if (shows[r].size() > 1) m.wrong.insert(shows[r].begin(), shows[r].end());
    if (!shows[r].empty() || fields.front() == count) continue;
    std::vector<int> could;
    if (fields.size() == 1) {
      could = {std::max(0, fields[0] - 1), fields[0]};
    } else {
      for (size_t i = 0; i + 1 < fields.size(); ++i) could.push_back(fields[i]);
    }
    m.missing.push_back(could);
  }
  return m;
}

// The places a review page lists: its sections' positions.
std::vector<int> PagePlaces(const std::string& page) {
  std::vector<int> places;
  const std::regex section("<section class=\"place\" id=\"p([0-9]+)\">");
  for (auto it = std::sregex_iterator(page.begin(), page.end(), section); it != std::sregex_iterator(); ++it)
    places.push_back(std::stoi((*it)[1]));
  return places;
}

class PlanReview : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveFfmpeg()) return;
    dir = MakeTempDir("plan_review");
    truth = footage::MakeFootage(dir, 320, 240);
  }
  static void TearDownTestSuite() {
    if (!dir.empty()) std::system(("rm -rf " + dir).c_str());
  }
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; `make deps` installs it";
  }
  static std::string dir;
  static footage::Truth truth;
};
std::string PlanReview::dir;
footage::Truth PlanReview::truth;

TEST_F(PlanReview, ListsEveryPlaceWherethePlanIsWrongWithinTwoPercentOfThePositions) {
  const CommandResult r = RunShell(dir, "$Z plan -q --out $D/plan --review $D/review $D/footage.y4m");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string plan = ReadAll(dir + "plan");
  const std::vector<int> places = PagePlaces(ReadAll(dir + "review/index.html"));
  const Mistakes m = FindMistakes(truth, plan);
  auto listed = [&](int p) {
    for (int place : places)
      if (std::abs(place - p) <= 1) return true;
    return false;
  };
  std::printf("%zu places for %zu positions; %zu wrong positions, %zu pictures missing:", places.size(), plan.size(),
              m.wrong.size(), m.missing.size());
  for (int p : m.wrong) std::printf(" %d", p);
  for (int p : places) std::printf(" [%d]", p);
  std::printf("\n");
  EXPECT_LE(places.size() * 50, plan.size());
  for (int p : m.wrong) EXPECT_TRUE(listed(p)) << "wrong position " << p << " is not listed";
  for (const std::vector<int>& could : m.missing)
    EXPECT_TRUE(std::any_of(could.begin(), could.end(), listed)) << "a missing picture at " << could[0];
}

}  // namespace
