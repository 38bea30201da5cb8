// Arbitrary bytes as HTTP requests to the editor's server, over a real
// loopback connection to a server with a session on a small clip, as the
// browser reaches it. "@T" in an input stands for the server's token and
// "@H" for its host and port, so that inputs reach past the refusals into
// every route. Every answer must be an HTTP response (or none: a request the
// server drops), the server must keep answering, and no answer may carry the
// bytes of a file beside the editor's own: no request reads a file.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "review/editor_server.h"
#include "review/editor_session.h"

namespace {

const std::string Token = "00112233445566778899aabbccddeeff";
const std::string Secret = "zemivtc-fuzz-secret-7f3a9c";

[[noreturn]] void Fault(const std::string& what) {
  std::fprintf(stderr, "editor_request_fuzz: %s\n", what.c_str());
  std::abort();
}

struct Editor {
  std::unique_ptr<review::EditorSession> session;
  std::unique_ptr<review::EditorServer> server;
  int port = 0;
};

// A clip of 6 frames of 16 x 8 with a moving edge, and a secret file beside
// it that no answer may show.
Editor& Start() {
  static Editor* editor = [] {
    char pattern[] = "/tmp/editor_request_fuzz_XXXXXX";
    if (!mkdtemp(pattern)) Fault("cannot make a folder");
    const std::string dir = pattern;
    std::ofstream(dir + "/secret.txt") << Secret;
    std::ofstream clip(dir + "/clip.y4m", std::ios::binary);
    clip << "YUV4MPEG2 W16 H8 F30000:1001 It C422\n";
    for (int f = 0; f < 6; ++f) {
      std::string frame(16 * 8 * 2, '\x80');
      for (int i = 0; i < 16 * 8; ++i) frame[i] = static_cast<char>((i % 16) < 3 * f + (i / 16) % 2 ? 200 : 30);
      clip << "FRAME\n" << frame;
    }
    clip.close();
    auto source = review::OpenStreamSource(dir + "/clip.y4m", {});
    review::SourceAnalysis analysis = review::AnalyzeSource(*source, 0, nullptr);
    auto* e = new Editor;
    e->session = std::make_unique<review::EditorSession>(std::move(source), std::move(analysis),
                                                         review::DefaultEditorFiles(dir + "/clip.y4m", "", ""));
    e->server = std::make_unique<review::EditorServer>(*e->session, Token);
    e->port = e->server->Bind();
    std::thread([e] { e->server->Run(); }).detach();
    return e;
  }();
  return *editor;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

void Deadline(int fd, int option, long microseconds) {
  timeval deadline{microseconds / 1000000, microseconds % 1000000};
  setsockopt(fd, SOL_SOCKET, option, &deadline, sizeof deadline);
}

// Sends the request and reads one answer: up to its body's end by its
// Content-Length, or until the server closes (a dropped request). A request
// that may be incomplete and is still unanswered after 50 ms gets the
// connection's sending side closed, so that the server stops waiting for
// the rest (and may then drop it: a busy server too).
std::string Exchange(int port, const std::string& request, bool maybeIncomplete) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  Deadline(fd, SO_RCVTIMEO, maybeIncomplete ? 50000 : 20000000);
  Deadline(fd, SO_SNDTIMEO, 20000000);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fault("the server stopped listening");
  // A request the server answers before reading all of it may find the
  // connection closed under the rest: that is no fault.
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string reply;
  char buffer[65536];
  bool halfClosed = false;
  for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) != 0;) {
    if (got < 0) {
      if ((errno != EAGAIN && errno != EWOULDBLOCK) || halfClosed) break;
      shutdown(fd, SHUT_WR);
      halfClosed = true;
      Deadline(fd, SO_RCVTIMEO, 20000000);
      continue;
    }
    reply.append(buffer, got);
    const size_t end = reply.find("\r\n\r\n");
    const size_t length = reply.find("Content-Length: ");
    if (end != std::string::npos && length != std::string::npos && length < end &&
        reply.size() >= end + 4 + std::strtoul(reply.c_str() + length + 16, nullptr, 10))
      break;
  }
  close(fd);
  return reply;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Editor& editor = Start();
  const std::string host = "127.0.0.1:" + std::to_string(editor.port);
  const std::string request =
      Replace(Replace(std::string(reinterpret_cast<const char*>(data), size), "@T", Token), "@H", host);
  const std::string reply = Exchange(editor.port, request, true);
  if (!reply.empty() && reply.compare(0, 9, "HTTP/1.1 ") != 0) Fault("an answer that is not HTTP");
  if (reply.find(Secret) != std::string::npos) Fault("an answer showed a file beside the editor's own");
  // The server still answers its own page.
  const std::string state =
      Exchange(editor.port, "GET /" + Token + "/api/state HTTP/1.1\r\nHost: " + host + "\r\n\r\n", false);
  if (state.compare(0, 15, "HTTP/1.1 200 OK") != 0)
    Fault("the server no longer answers after that request: \"" + state.substr(0, 300) + "\"");
  return 0;
}
