#include "cli/station/web/StationWeb.h"

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "cli/history/HistoryHtml.h"
#include "cli/station/web/InstructionBitmaps.h"
#include "cli/station/web/StationBoard.h"
#include "cli/station/web/StationPage.h"
#include "records/UnitHistory.h"
#include "records/UnitRecords.h"

namespace brintel::cli {
namespace {

using namespace std::chrono_literals;

constexpr char kCookie[] = "brintel_station";
// A page gets at most this many frames a second: progress on eight channels
// then costs the station next to nothing, and a bench screen sees no lag.
constexpr auto kFramePause = 200ms;
constexpr auto kKeepAlive = 15s;
// How long the open pages are given to hear that the station ended.
constexpr auto kEndGrace = 2s;
constexpr std::size_t kThreads = 24;

constexpr char kLivePolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
// The history page brings its own style and has no script.
constexpr char kHistoryPolicy[] =
    "default-src 'none'; style-src 'unsafe-inline'; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'";

// Compared in full whatever the first difference: the time tells nothing.
bool SameToken(const std::string& given, const std::string& token) {
  unsigned char difference = given.size() == token.size() ? 0 : 1;
  for (std::size_t i = 0; i < token.size(); ++i) {
    difference |= static_cast<unsigned char>(token[i] ^ (i < given.size() ? given[i] : 0));
  }
  return difference == 0;
}

std::string CookieValue(const httplib::Request& request, const std::string& name) {
  const std::string header = request.get_header_value("Cookie");
  std::size_t at = 0;
  while (at < header.size()) {
    std::size_t end = header.find(';', at);
    if (end == std::string::npos) {
      end = header.size();
    }
    std::string pair = header.substr(at, end - at);
    pair.erase(0, pair.find_first_not_of(' '));
    if (pair.starts_with(name + "=")) {
      return pair.substr(name.size() + 1);
    }
    at = end + 1;
  }
  return {};
}

std::string HistoryPage(const std::string& db) {
  const std::filesystem::path path =
      db.empty() ? records::DefaultHistoryPath() : std::filesystem::path(db);
  std::vector<records::UnitRecord> units;
  std::error_code error;
  if (std::filesystem::exists(path, error)) {
    units = records::UnitHistory(path).Query();
  }
  HistoryPageContext context;
  context.db = path.string();
  context.made = std::chrono::system_clock::now();
  context.backTo = "./";
  context.perDay = true;
  return HistoryHtml(units, context);
}

}  // namespace

struct StationWeb::Server {
  StationWebSettings settings;
  StationBoard board;
  httplib::Server http;
  std::thread thread;
  int port = 0;
  std::atomic<bool> stopping{false};
  std::mutex readersMutex;
  std::condition_variable readersGone;
  int readers = 0;

  Server(StationWebSettings s, std::vector<std::string> ports)
      : settings(std::move(s)), board(std::move(ports)) {}

  // Only GET (and HEAD), and off this PC only with the token.
  httplib::Server::HandlerResponse Admit(const httplib::Request& request,
                                         httplib::Response& response) {
    if (request.method != "GET" && request.method != "HEAD") {
      response.status = 405;
      response.set_header("Allow", "GET, HEAD");
      response.set_content("This page only shows the station; nothing here changes it.\n",
                           "text/plain; charset=utf-8");
      return httplib::Server::HandlerResponse::Handled;
    }
    const std::string& token = settings.token;
    if (token.empty() || SameToken(CookieValue(request, kCookie), token)) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    if (request.has_param("token") && SameToken(request.get_param_value("token"), token)) {
      // Once in the URL, then a cookie: the token leaves the address bar and
      // the history of the browser at once.
      std::string cookie = kCookie;
      cookie += '=';
      cookie += token;
      cookie += "; Path=/; HttpOnly; SameSite=Strict";
      response.set_header("Set-Cookie", cookie);
      response.set_redirect(request.path, 303);
      return httplib::Server::HandlerResponse::Handled;
    }
    response.status = 403;
    response.set_content(
        "This station's page needs its token: open the address the station's operator gave, "
        "with ?token=... once.\n",
        "text/plain; charset=utf-8");
    return httplib::Server::HandlerResponse::Handled;
  }

  void Events(httplib::Response& response) {
    {
      const std::lock_guard lock(readersMutex);
      ++readers;
    }
    auto seen = std::make_shared<std::uint64_t>(0);
    response.set_header("Cache-Control", "no-store");
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, seen](std::size_t, httplib::DataSink& sink) {
          const StationBoard::Snapshot snapshot = board.WaitNewer(*seen, kKeepAlive, stopping);
          if (snapshot.json.empty()) {
            if (stopping) {
              sink.done();
              return true;
            }
            return sink.write(": still here\n\n", 14);
          }
          *seen = snapshot.version;
          std::string frame = "event: board\ndata: ";
          frame += snapshot.json;
          frame += "\n\n";
          if (!sink.write(frame.data(), frame.size())) {
            return false;
          }
          if (snapshot.ended) {
            sink.done();
            return true;
          }
          std::this_thread::sleep_for(kFramePause);
          return true;
        },
        [this](bool) {
          {
            const std::lock_guard lock(readersMutex);
            --readers;
          }
          readersGone.notify_all();
        });
  }

  void Routes() {
    // Each open page holds a thread for its events: room for a shop's screens
    // and phones beside the requests for pictures.
    http.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    // Stopping waits for every idle kept-alive connection: the station's end
    // should not.
    http.set_keep_alive_timeout(1);
    http.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                              {"Referrer-Policy", "no-referrer"},
                              {"X-Frame-Options", "DENY"},
                              {"Cache-Control", "no-store"}});
    http.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
          return Admit(request, response);
        });
    http.Get("/", [](const httplib::Request&, httplib::Response& response) {
      response.set_header("Content-Security-Policy", kLivePolicy);
      response.set_content(kStationPageHtml, "text/html; charset=utf-8");
    });
    http.Get("/station.css", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(kStationPageCss, "text/css; charset=utf-8");
    });
    http.Get("/station.js", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(kStationPageJs, "text/javascript; charset=utf-8");
    });
    http.Get("/state", [this](const httplib::Request&, httplib::Response& response) {
      response.set_content(board.Now().json, "application/json");
    });
    http.Get("/events",
             [this](const httplib::Request&, httplib::Response& response) { Events(response); });
    http.Get(R"(/pictures/(\d{1,5})\.bmp)",
             [](const httplib::Request& request, httplib::Response& response) {
               const std::string_view bitmap =
                   InstructionBitmap(static_cast<std::uint16_t>(std::stoi(request.matches[1])));
               if (bitmap.empty()) {
                 response.status = 404;
                 return;
               }
               response.set_header("Cache-Control", "max-age=3600");
               response.set_content(std::string(bitmap), "image/bmp");
             });
    http.Get("/history", [this](const httplib::Request&, httplib::Response& response) {
      response.set_header("Content-Security-Policy", kHistoryPolicy);
      try {
        response.set_content(HistoryPage(settings.db), "text/html; charset=utf-8");
      } catch (const std::exception& e) {
        response.status = 500;
        response.set_content(std::string("The records cannot be read: ") + e.what() + "\n",
                             "text/plain; charset=utf-8");
      }
    });
  }
};

StationWeb::StationWeb(StationWebSettings settings, std::vector<std::string> ports)
    : server_(std::make_unique<Server>(std::move(settings), std::move(ports))) {
  Server& server = *server_;
  server.Routes();
  const WebAddress& address = server.settings.address;
  server.port = address.port == 0
                    ? server.http.bind_to_any_port(address.host)
                    : (server.http.bind_to_port(address.host, address.port) ? address.port : -1);
  if (server.port <= 0) {
    std::string why = "--web ";
    why += address.host;
    why += ':';
    why += std::to_string(address.port);
    why += ": cannot listen there (taken, or not an address of this PC)";
    throw std::runtime_error(why);
  }
  server.thread = std::thread([&server] { server.http.listen_after_bind(); });
}

StationWeb::~StationWeb() {
  Server& server = *server_;
  {
    std::unique_lock lock(server.readersMutex);
    server.readersGone.wait_for(lock, kEndGrace, [&server] { return server.readers == 0; });
  }
  // A station that ends at once may stop the server before it listens.
  for (int i = 0; i < 400 && !server.http.is_running(); ++i) {
    std::this_thread::sleep_for(5ms);
  }
  server.stopping = true;
  server.board.WakeAll();
  server.http.stop();
  server.thread.join();
}

void StationWeb::operator()(const run::RunEvent& event) {
  server_->board(event);
}

void StationWeb::End(const std::string& why) {
  server_->board.End(why);
}

std::string StationWeb::Url() const {
  const std::string& host = server_->settings.address.host;
  std::string url = "http://";
  const bool v6 = host.find(':') != std::string::npos;
  url += v6 ? "[" : "";
  url += host;
  url += v6 ? "]:" : ":";
  url += std::to_string(server_->port);
  url += '/';
  return url;
}

}  // namespace brintel::cli
