// The back-office test server as a program, for the demo and for trying the application
// by hand:  backoffice --port 8080 [--data <folder>] [--host 127.0.0.1]
#include <pthread.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "testing/backoffice/BackOfficeServer.h"

namespace {
int usage() {
  std::cerr << "usage: backoffice --port <port> [--data <folder>] [--host <address>]\n";
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  int port = -1;
  std::string host = "127.0.0.1";
  std::filesystem::path data = backoffice::defaultDataFolder();
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) return usage();
    if (a == "--port") {
      char* end = nullptr;
      long p = std::strtol(argv[++i], &end, 10);
      if (!end || *end || p < 0 || p > 65535) return usage();
      port = int(p);
    } else if (a == "--data") {
      data = argv[++i];
    } else if (a == "--host") {
      host = argv[++i];
    } else {
      return usage();
    }
  }
  if (port < 0) return usage();
  backoffice::BackOfficeServer server(data);
  if (!server.loadError().empty()) {
    std::cerr << server.loadError() << "\n";
    return 1;
  }
  server.setLogSink([](const std::string& line) { std::cout << line << std::endl; });
  // SIGINT and SIGTERM stop the server from a thread of their own (never inside a handler).
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    if (sig != 0) server.stop();
  });
  const bool served = server.run(port, host);
  if (!served) {
    std::cerr << "cannot listen on " << host << ":" << port << "\n";
    pthread_kill(waiter.native_handle(), SIGTERM);
  }
  waiter.join();
  return served ? 0 : 1;
}
