// zemivtc edit: the keep file it writes reads back as the codes set, the
// output frame it shows is the render's frame byte for byte, its edits reach
// the keep file at once and survive a new session, and its server refuses
// every request that is not its own page's.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "analysis/keep.h"
#include "review/editor_server.h"
#include "review/editor_session.h"
#include "tests/command_line.h"
#include "tests/footage.h"

namespace {

using testing_support::HaveFfmpeg;
using testing_support::MakeTempDir;
using testing_support::ReadAll;
using testing_support::RunShell;
using testing_support::WriteAll;

TEST(EditorKeepFile, ReadsBackAsTheCodesSet) {
  const std::vector<std::map<int, char>> cases = {
      {}, {{0, '1'}}, {{4, '2'}, {5, '2'}, {6, '2'}}, {{10, '1'}, {11, '0'}, {12, '4'}, {20, '5'}, {21, '5'}}};
  for (const auto& kept : cases) {
    std::map<int, char> back;
    for (const analysis::KeepLine& line : analysis::ParseKeepFile(review::KeepFileText(kept, {"# note"}), "k"))
      for (int p = line.first; p <= line.last; ++p) back[p] = line.CodeAt(p);
    EXPECT_EQ(back, kept) << review::KeepFileText(kept, {});
  }
}

TEST(EditorFrames, TheComposerMakesTheRendersFrames) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is needed to make the footage";
  const std::string dir = MakeTempDir("editor_frames");
  const int w = 64, h = 36;
  const std::string clip = footage::Generate(dir, "clip", "testsrc2", "24000/1001", w, h, 7, "telecine");
  const std::vector<std::string> frames = footage::ReadY4mFrames(clip);
  // Every code at even and odd positions (13 positions of 7 frames), in both
  // field orders.
  const std::string plan = "1234560123456";
  WriteAll(dir + "plan.zem", plan);
  for (const char* order : {"tff", "bff"}) {
    ASSERT_EQ(RunShell(dir, "$Z --plan $D/plan.zem --field-order " + std::string(order) + " -q " + clip + " $D/out.y4m")
                  .status,
              0);
    const std::vector<std::string> rendered = footage::ReadY4mFrames(dir + "out.y4m");
    review::FrameComposer composer(w, h, FormatYuv422, order[0] == 'b');
    std::vector<uint8_t> made;
    size_t n = 0;
    for (int p = 0; p < static_cast<int>(plan.size()); ++p) {
      const bool any = composer.Compose(
          p, plan[p], [&](int f) { return reinterpret_cast<const uint8_t*>(frames.at(f).data()); }, &made);
      ASSERT_EQ(any, plan[p] != '0');
      if (!any) continue;
      ASSERT_LT(n, rendered.size());
      EXPECT_EQ(std::string(made.begin(), made.end()), rendered[n++]) << order << " position " << p;
    }
    EXPECT_EQ(n, rendered.size());
  }
}

class EditorSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is needed to make the footage";
    dir = MakeTempDir("editor_session");
    clip = footage::Generate(dir, "clip", "testsrc2", "24000/1001", 160, 120, 40, "telecine");
    files = review::DefaultEditorFiles(clip, "", "");
  }
  std::unique_ptr<review::EditorSession> Open() {
    auto source = review::OpenStreamSource(clip, {});
    review::SourceAnalysis analysis = review::AnalyzeSource(*source, 0, nullptr);
    return std::make_unique<review::EditorSession>(std::move(source), std::move(analysis), files);
  }
  std::string dir, clip;
  review::EditorFiles files;
};

TEST_F(EditorSessionTest, EditsReachTheKeepFileAtOnceAndSurviveANewSession) {
  auto session = Open();
  const std::string proposed = session->Codes();
  const std::string header =
      "# kept codes of clip.y4m (zemivtc edit writes this file after every change; "
      "zemivtc plan --keep reads it)\n";
  struct Step {
    std::function<std::string()> edit;
    std::string keep;  // the file after the step
    bool refused;
  };
  const std::vector<Step> steps = {
      {[&] { return session->SetCodes(4, 4, "4"); }, "4 4\n", false},
      // '1' at 5 joins fields 5 and 6, which '4' at 4 keeps apart.
      {[&] { return session->SetCodes(5, 5, "1"); }, "4 4\n", true},
      {[&] { return session->Undo(); }, "", false},
      {[&] { return session->Redo(); }, "4 4\n", false},
      {[&] { return session->SetVideo(20, 25); }, "4 4\n20-25 2\n", false},
      // Film again at the phase around: the proposal's own codes there.
      {[&] { return session->SetFilm(20, 29); }, "4 4\n20-29 " + proposed.substr(20, 10) + "\n", false},
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    const std::string answer = steps[i].edit();
    EXPECT_EQ(answer.find("\"error\"") != std::string::npos, steps[i].refused) << i << ": " << answer;
    EXPECT_EQ(ReadAll(files.keep), steps[i].keep.empty() ? header : header + steps[i].keep) << i;
  }
  EXPECT_EQ(session->SetView(17, 5), "{}");
  const std::string codes = session->Codes();
  session.reset();
  session = Open();
  EXPECT_EQ(session->Codes(), codes);
  EXPECT_NE(session->StateJson().find("\"position\":17,\"zoom\":5"), std::string::npos);
  EXPECT_NE(session->SavePlan().find("clip.zem and clip.tc"), std::string::npos);
  EXPECT_EQ(ReadAll(files.plan), codes);
}

TEST(EditorCommand, RefusesABadStartWithAMessageAndNoAddress) {
  const std::string dir = MakeTempDir("editor_command");
  WriteAll(dir + "clip.y4m", testing_support::FlatClip(3));
  WriteAll(dir + "bad.keep", "1 9\n");
  WriteAll(dir + "short.zem", "101");
  testing_support::ExpectRefusals(dir,
                                  {
                                      {"edit -", 2, "need files of their own"},
                                      {"edit --timecodes t.tc $D/clip.y4m", 2, "zemivtc edit takes --plan, --keep"},
                                      {"--open $D/clip.y4m", 2, "--open belongs to zemivtc edit"},
                                      {"edit $D/none.y4m", 1, "cannot open"},
                                      {"edit --ffms2 $D/lib.so $D/clip.y4m", 2, "clip.y4m is a Y4M stream"},
                                      {"edit --keep $D/bad.keep $D/clip.y4m", 1, "bad.keep line 1: code \"9\""},
                                      {"edit --plan $D/short.zem $D/clip.y4m", 1, "has 3 positions, but"},
                                      {"edit --keep $D/clip.y4m $D/clip.y4m", 1, "it is the source"},
                                  });
}

// Raw bytes to the server, and the status line back (empty when the server
// closed without an answer).
std::string StatusOf(int port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval deadline{30, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &deadline, sizeof deadline);
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    char buffer[4096];
    ssize_t got;
    while (reply.find("\r\n") == std::string::npos && (got = recv(fd, buffer, sizeof buffer, 0)) > 0)
      reply.append(buffer, got);
  }
  close(fd);
  return reply.substr(0, reply.find("\r\n"));
}

TEST(EditorServer, AnswersOnlyItsOwnPageWithItsTokenAndHost) {
  const std::string dir = MakeTempDir("editor_server");
  WriteAll(dir + "clip.y4m", testing_support::FlatClip(4));
  auto source = review::OpenStreamSource(dir + "clip.y4m", {});
  review::SourceAnalysis analysis = review::AnalyzeSource(*source, 0, nullptr);
  review::EditorSession session(std::move(source), std::move(analysis),
                                review::DefaultEditorFiles(dir + "clip.y4m", "", ""));
  review::EditorServer server(session, "0123456789abcdef0123456789abcdef");
  const int port = server.Bind();
  std::thread serving([&] { server.Run(); });
  const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n", t = "/0123456789abcdef0123456789abcdef";
  const struct {
    std::string request, status;
  } cases[] = {
      {"GET " + t + "/ HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 200 OK"},
      {"GET " + t + "/api/state HTTP/1.1\r\nHost: localhost:" + std::to_string(port) + "\r\n\r\n", "HTTP/1.1 200 OK"},
      {"GET " + t + "/pic/out/2/1.png HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 200 OK"},
      {"GET /api/state HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 403 Forbidden"},
      {"GET " + t + "0/ HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 403 Forbidden"},
      {"GET /0123456789abcdef0123456789abcdee/ HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 403 Forbidden"},
      {"GET " + t + "/ HTTP/1.1\r\nHost: attacker.example:" + std::to_string(port) + "\r\n\r\n",
       "HTTP/1.1 421 Misdirected Request"},
      {"GET " + t + "/ HTTP/1.1\r\n\r\n", "HTTP/1.1 421 Misdirected Request"},
      {"GET " + t + "/../../../etc/passwd HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 404 Not Found"},
      {"GET " + t + "/review/editor_page.html HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 404 Not Found"},
      {"GET " + t + "/pic/out/99999/1.png HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 404 Not Found"},
      {"POST " + t + "/api/code?p=1&c=9 HTTP/1.1\r\n" + host + "Content-Length: 0\r\n\r\n", "HTTP/1.1 200 OK"},
      {"POST " + t + "/api/undo HTTP/1.1\r\n" + host + "Content-Length: 5000\r\n\r\n" + std::string(5000, 'x'),
       "HTTP/1.1 413 Payload Too Large"},
      {"GET " + t + "/" + std::string(9000, 'a') + " HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 414 URI Too Long"},
      {"GARBAGE\r\n\r\n", "HTTP/1.1 400 Bad Request"},
  };
  for (const auto& c : cases) EXPECT_EQ(StatusOf(port, c.request), c.status) << c.request.substr(0, 120);
  server.Stop();
  serving.join();
  EXPECT_EQ(ReadAll(dir + "clip.keep"), "") << "no code set by a refused request";
}

}  // namespace
