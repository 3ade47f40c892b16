// brintel-program-server: the simulated program server, for the demo and for
// end-to-end tests that run the real tool against it.

#include <pthread.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "server/posix/IconvGbkDecoder.h"
#include "sim/server/Catalogue.h"
#include "sim/server/ProgramServer.h"
#include "sim/server/ServerFault.h"

namespace {

using brintel::sim::Catalogue;
using brintel::sim::ProgramServer;

std::string Hex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
  }
  return out;
}

// "HOST:PORT" or "[V6HOST]:PORT"; false when it is neither.
bool SplitListen(const std::string& text, std::string& host, int& port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    return false;
  }
  host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  const std::string digits = text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  port = std::stoi(digits);
  return port <= 65535;
}

// One <hex name>.bin per program with its raw bytes, and index.txt with
// "<hex name><TAB><name in UTF-8>" lines, so a script can compare what a
// display received without handling GBK file names.
void Export(const Catalogue& catalogue, const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  const brintel::IconvGbkDecoder gbk;
  std::ofstream index(dir / "index.txt", std::ios::binary);
  for (const auto& program : catalogue.Programs()) {
    const std::string hex = Hex(program.name);
    std::ofstream bin(dir / (hex + ".bin"), std::ios::binary);
    bin.write(reinterpret_cast<const char*>(program.data.data()),
              static_cast<std::streamsize>(program.data.size()));
    if (!bin) {
      throw std::runtime_error("cannot write " + (dir / (hex + ".bin")).string());
    }
    index << hex << '\t' << gbk.ToUtf8(program.name) << '\n';
  }
  if (!index.flush()) {
    throw std::runtime_error("cannot write " + (dir / "index.txt").string());
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Simulated program server: program lists and keyed packages over HTTP.",
               "brintel-program-server"};
  app.set_version_flag("--version", std::string("brintel-program-server ") + BRINTEL_VERSION);
  std::string listen = "127.0.0.1:0";
  std::vector<std::string> faultTexts;
  bool noLineBreaks = false;
  bool listLineBreaks = false;
  std::string exportDir;
  bool quiet = false;
  app.add_option("--listen", listen, "HOST:PORT to listen on; port 0 picks a free one")
      ->capture_default_str();
  app.add_option("--fault", faultTexts,
                 "misbehave on purpose (repeatable): [list:|package:|both:]KIND\n"
                 "(without a target: what KIND can hit), KIND one of:\n" +
                     brintel::sim::ServerFaultForms());
  app.add_flag("--no-line-breaks", noLineBreaks, "send packages as one line");
  app.add_flag("--list-line-breaks", listLineBreaks, "break lists every 64 bytes too");
  app.add_option("--export", exportDir,
                 "write each program's bytes to DIR/<hex name>.bin and DIR/index.txt");
  app.add_flag("--quiet", quiet, "no line per request on stderr");
  CLI11_PARSE(app, argc, argv);

  ProgramServer::Options options;
  if (!SplitListen(listen, options.host, options.port)) {
    std::cerr << "brintel-program-server: --listen wants HOST:PORT, got \"" << listen << "\"\n";
    return 2;
  }
  for (const std::string& text : faultTexts) {
    const auto parsed = brintel::sim::ParseServerFault(text);
    if (!parsed.fault) {
      std::cerr << "brintel-program-server: " << parsed.error << "\n";
      return 2;
    }
    options.faults.push_back(*parsed.fault);
  }
  options.lineBreaks = !noLineBreaks;
  options.listLineBreaks = listLineBreaks;
  std::mutex logMutex;
  if (!quiet) {
    options.onRequest = [&logMutex](const brintel::sim::RecordedRequest& request) {
      std::string line = "GET " + request.target + " ua=\"" + request.userAgent + "\" -> ";
      line += request.status == 0 ? std::string("dropped") : std::to_string(request.status);
      for (const std::string& fault : request.faults) {
        line += " [" + fault + "]";
      }
      std::lock_guard lock(logMutex);
      std::cerr << line << std::endl;
    };
  }

  // Blocked before any thread starts, so only sigwait below sees them; the
  // server's threads inherit the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  try {
    const Catalogue catalogue = Catalogue::Default();
    if (!exportDir.empty()) {
      Export(catalogue, exportDir);
    }
    ProgramServer server(catalogue, std::move(options));
    server.Start();
    std::cout << "LISTENING " << server.Host() << ":" << server.Port() << std::endl;
    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
  } catch (const std::exception& error) {
    std::cerr << "brintel-program-server: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
