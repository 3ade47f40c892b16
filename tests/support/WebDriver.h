#pragma once

// Debian's chromium-driver driving headless chromium over WebDriver (W3C):
// open a page, run a script in it and take its answer, take a screenshot.
// Include where cpp-httplib and nlohmann_json are linked.

#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <stdexcept>
#include <string>

#include "tests/support/Chromium.h"
#include "tests/support/Subprocess.h"

namespace brintel::testing {

inline std::string ChromeDriverPath() {
  return ::access("/usr/bin/chromedriver", X_OK) == 0 ? "/usr/bin/chromedriver" : "";
}

class WebDriver {
 public:
  // Empty when both are installed, else what is missing.
  static std::string Missing() {
    if (ChromiumPath().empty()) {
      return "chromium is not installed (apt-get install chromium)";
    }
    return ChromeDriverPath().empty()
               ? "chromedriver is not installed (apt-get install chromium-driver)"
               : "";
  }

  // A new browser with an empty profile in `profile` and a window this large.
  WebDriver(const std::filesystem::path& profile, int width, int height)
      : driver_(std::make_unique<Subprocess>(
            std::vector<std::string>{ChromeDriverPath(), "--port=0"})) {
    std::smatch port;
    const std::regex started("started successfully on port (\\d+)");
    if (!driver_->ReadUntil(
            [&](const std::string& out) { return std::regex_search(out, port, started); },
            std::chrono::seconds(10))) {
      throw std::runtime_error("chromedriver did not start: " + driver_->out() + driver_->err());
    }
    client_ = std::make_unique<httplib::Client>("127.0.0.1", std::stoi(port[1]));
    client_->set_read_timeout(60, 0);
    std::vector<std::string> args = ChromiumCommand(ChromiumPath(), profile);
    args.erase(args.begin());
    args.push_back("--window-size=" + std::to_string(width) + "," + std::to_string(height));
    const nlohmann::json capabilities = {
        {"capabilities",
         {{"alwaysMatch",
           {{"browserName", "chrome"},
            {"goog:chromeOptions", {{"binary", ChromiumPath()}, {"args", args}}}}}}}};
    session_ = Call("POST", "/session", capabilities).at("sessionId").get<std::string>();
  }
  ~WebDriver() {
    if (!session_.empty()) {
      client_->Delete("/session/" + session_);
    }
  }
  WebDriver(const WebDriver&) = delete;
  WebDriver& operator=(const WebDriver&) = delete;

  void Open(const std::string& url) { Call("POST", Path("/url"), {{"url", url}}); }

  // The value the script's `return` gives, as JSON.
  nlohmann::json Run(const std::string& script) {
    return Call("POST", Path("/execute/sync"),
                {{"script", script}, {"args", nlohmann::json::array()}});
  }

  // The window as PNG bytes, once what the page holds now has been painted.
  std::string Screenshot() {
    Call("POST", Path("/execute/async"),
         {{"script",
           "const done = arguments[0];"
           "requestAnimationFrame(() => requestAnimationFrame(() => done(true)));"},
          {"args", nlohmann::json::array()}});
    return Base64(Call("GET", Path("/screenshot"), {}).get<std::string>());
  }

 private:
  std::string Path(const std::string& tail) const { return "/session/" + session_ + tail; }

  nlohmann::json Call(const std::string& method, const std::string& path,
                      const nlohmann::json& body) {
    const auto result =
        method == "GET" ? client_->Get(path) : client_->Post(path, body.dump(), "application/json");
    if (!result) {
      throw std::runtime_error("chromedriver: no answer to " + method + " " + path);
    }
    const nlohmann::json answer = nlohmann::json::parse(result->body);
    if (result->status != 200) {
      throw std::runtime_error("chromedriver: " + method + " " + path + ": " + result->body);
    }
    return answer.at("value");
  }

  static std::string Base64(const std::string& text) {
    std::string bytes;
    unsigned int bits = 0;
    int count = 0;
    for (char c : text) {
      const auto at =
          std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
              .find(c);
      if (at == std::string_view::npos) {
        continue;  // padding
      }
      bits = bits << 6 | static_cast<unsigned int>(at);
      if ((count += 6) >= 8) {
        count -= 8;
        bytes += static_cast<char>(bits >> count & 0xFF);
      }
    }
    return bytes;
  }

  std::unique_ptr<Subprocess> driver_;
  std::unique_ptr<httplib::Client> client_;
  std::string session_;
};

}  // namespace brintel::testing
