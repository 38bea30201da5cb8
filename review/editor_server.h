// The editor's web server, for the person at this machine only: it listens
// on 127.0.0.1, every address carries a random token, a request whose Host
// is not this loopback address (a page of another site reaching it through a
// name of its own, DNS rebinding) or whose path lacks the token is refused
// before any route, and request sizes are bounded. It serves the page built
// into the command and the session's answers and pictures, and nothing from
// disk: no request names a file.
#ifndef ZEMIVTC_REVIEW_EDITOR_SERVER_H
#define ZEMIVTC_REVIEW_EDITOR_SERVER_H

#include <memory>
#include <string>

#include "review/editor_session.h"

namespace httplib {
class Server;
}

namespace review {

// Bounds on a request: the page sends no body, so a small one is plenty.
constexpr size_t MaxRequestBody = 1024;

// 32 hex digits (128 bits) from the system's random source.
std::string NewToken();

// Why a request is refused before its route, or nothing.
enum class Refusal { None, Host, Token };
Refusal CheckRequest(const std::string& host, const std::string& path, int port, const std::string& token);

class EditorServer {
 public:
  EditorServer(EditorSession& session, std::string token);
  ~EditorServer();
  EditorServer(const EditorServer&) = delete;
  EditorServer& operator=(const EditorServer&) = delete;

  // Binds 127.0.0.1 on a port the system picks (or `port`); returns it.
  // Throws CliError when it cannot.
  int Bind(int port = 0);
  // http://127.0.0.1:PORT/TOKEN/
  std::string Address() const;
  // Serves until Stop() (from another thread).
  void Run();
  void Stop();

 private:
  EditorSession& session;
  std::string token;
  int port = 0;
  std::unique_ptr<httplib::Server> server;
};

// The page, built into the command.
extern const char* const EditorPage;

}  // namespace review

#endif
