#include "review/editor_server.h"

#include <httplib.h>

#include "cli/errors.h"
#include "platform/system.h"

namespace review {
namespace {

// A whole number from 0 of at most 9 digits, or -1.
int Number(const std::string& text) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stoi(text);
}

int Param(const httplib::Request& request, const char* name) {
  return request.has_param(name) ? Number(request.get_param_value(name)) : -1;
}

void Json(httplib::Response& response, const std::string& body) {
  response.set_header("Cache-Control", "no-store");
  response.set_content(body, "application/json");
}

bool PictureKindOf(const std::string& name, PictureKind* kind) {
  static const struct {
    const char* name;
    PictureKind kind;
  } kinds[] = {{"prev", PictureKind::Previous}, {"here", PictureKind::Here},          {"next", PictureKind::Next},
               {"top", PictureKind::TopField},  {"bottom", PictureKind::BottomField}, {"close", PictureKind::CloseUp},
               {"out", PictureKind::Output}};
  for (const auto& k : kinds)
    if (name == k.name) {
      *kind = k.kind;
      return true;
    }
  return false;
}

}  // namespace

std::string NewToken() {
  uint8_t bytes[16];
  if (!sys::SystemRandom(bytes, sizeof bytes))
    throw cli::CliError("cannot read the system's random source for the editor's token");
  static const char digits[] = "0123456789abcdef";
  std::string token;
  for (uint8_t b : bytes) {
    token += digits[b >> 4];
    token += digits[b & 15];
  }
  return token;
}

Refusal CheckRequest(const std::string& host, const std::string& path, int port, const std::string& token) {
  const std::string suffix = ":" + std::to_string(port);
  if (host != "127.0.0.1" + suffix && host != "localhost" + suffix) return Refusal::Host;
  const std::string prefix = "/" + token;
  if (token.empty() || path.compare(0, prefix.size(), prefix) != 0 ||
      (path.size() > prefix.size() && path[prefix.size()] != '/'))
    return Refusal::Token;
  return Refusal::None;
}

EditorServer::EditorServer(EditorSession& editorSession, std::string serverToken)
    : session(editorSession), token(std::move(serverToken)), server(std::make_unique<httplib::Server>()) {
  httplib::Server& s = *server;
  s.set_payload_max_length(MaxRequestBody);
  // Answers go out at once, not held back for more (a held key asks for
  // pictures many times a second).
  s.set_tcp_nodelay(true);
  // A browser keeps up to 6 connections to the page open; a connection holds
  // one of the server's threads while it stays open. Threads for two tabs,
  // and an idle connection let go soon.
  s.new_task_queue = [] { return new httplib::ThreadPool(16); };
  s.set_keep_alive_max_count(1000);
  s.set_keep_alive_timeout(2);
  s.set_read_timeout(5, 0);
  s.set_write_timeout(5, 0);
  s.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    const Refusal refusal = CheckRequest(request.get_header_value("Host"), request.path, port, token);
    if (refusal == Refusal::None) return httplib::Server::HandlerResponse::Unhandled;
    response.status = refusal == Refusal::Host ? 421 : 403;
    response.set_content(refusal == Refusal::Host ? "this server answers only to its own address\n"
                                                  : "this address needs the editor's token\n",
                         "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  });
  s.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr failure) {
    std::string what = "the editor failed";
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    response.status = 500;
    Json(response, "{\"error\":" + JsonString(what) + "}");
  });

  const std::string base = "/" + token;
  s.Get(base, [base](const httplib::Request&, httplib::Response& response) { response.set_redirect(base + "/"); });
  s.Get(base + "/", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    response.set_header("Content-Security-Policy",
                        "default-src 'none'; img-src 'self'; connect-src 'self'; script-src 'unsafe-inline'; "
                        "style-src 'unsafe-inline'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_content(EditorPage, "text/html; charset=utf-8");
  });
  s.Get(base + "/api/state",
        [this](const httplib::Request&, httplib::Response& response) { Json(response, session.StateJson()); });
  s.Get(base + "/api/position", [this](const httplib::Request& request, httplib::Response& response) {
    Json(response, session.PositionJson(Param(request, "p")));
  });
  s.Get(base + R"(/pic/([a-z]+)/([0-9]{1,9})/([0-6])\.png)",
        [this](const httplib::Request& request, httplib::Response& response) {
          PictureKind kind;
          const int p = Number(request.matches[2]);
          const std::string png = PictureKindOf(request.matches[1], &kind) && p >= 0
                                      ? session.Picture(kind, p, request.matches[3].str()[0])
                                      : std::string();
          if (png.empty()) {
            response.status = 404;
            return;
          }
          // The frames do not change while the editor runs: a picture named
          // by its position and code is the same picture.
          response.set_header("Cache-Control", "private, max-age=86400");
          response.set_header("X-Content-Type-Options", "nosniff");
          response.set_content(png, "image/png");
        });
  s.Post(base + "/api/code", [this](const httplib::Request& request, httplib::Response& response) {
    const std::string code = request.has_param("c") ? request.get_param_value("c") : "";
    const int first = Param(request, "p");
    const int last = request.has_param("last") ? Param(request, "last") : first;
    Json(response, code.size() == 1 ? session.SetCodes(first, last, code) : "{\"error\":\"not set: one code\"}");
  });
  s.Post(base + "/api/range", [this](const httplib::Request& request, httplib::Response& response) {
    const std::string kind = request.has_param("kind") ? request.get_param_value("kind") : "";
    const int first = Param(request, "first"), last = Param(request, "last");
    Json(response, kind == "film"    ? session.SetFilm(first, last)
                   : kind == "video" ? session.SetVideo(first, last)
                                     : "{\"error\":\"not set: film or video\"}");
  });
  s.Post(base + "/api/undo", [this](const httplib::Request&, httplib::Response& r) { Json(r, session.Undo()); });
  s.Post(base + "/api/redo", [this](const httplib::Request&, httplib::Response& r) { Json(r, session.Redo()); });
  s.Post(base + "/api/replan", [this](const httplib::Request&, httplib::Response& r) { Json(r, session.Replan()); });
  s.Post(base + "/api/save", [this](const httplib::Request&, httplib::Response& r) { Json(r, session.SavePlan()); });
  s.Post(base + "/api/view", [this](const httplib::Request& request, httplib::Response& response) {
    Json(response, session.SetView(Param(request, "p"), Param(request, "zoom")));
  });
}

EditorServer::~EditorServer() = default;

int EditorServer::Bind(int wanted) {
  port = wanted > 0 ? (server->bind_to_port("127.0.0.1", wanted) ? wanted : -1) : server->bind_to_any_port("127.0.0.1");
  if (port <= 0) throw cli::CliError("cannot listen on 127.0.0.1" + (wanted > 0 ? ":" + std::to_string(wanted) : ""));
  return port;
}

std::string EditorServer::Address() const { return "http://127.0.0.1:" + std::to_string(port) + "/" + token + "/"; }

void EditorServer::Run() { server->listen_after_bind(); }

void EditorServer::Stop() { server->stop(); }

}  // namespace review
