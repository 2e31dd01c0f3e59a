// The management server as a program, for the demo: serves the agent's endpoints over HTTPS
// on 127.0.0.1 and prints each request it gets.
//
//   mdm [--port N] [--dir FOLDER]
//
// It writes its certificate authority to FOLDER/mdm-ca.pem; point the agent at it with
// KESTRA_MDM_ORIGIN=https://127.0.0.1:N and KESTRA_MDM_CA_FILE=FOLDER/mdm-ca.pem.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "testing/mdm/MdmServer.h"

namespace {
mdm::MdmServer* gServer = nullptr;
void onSignal(int) {
  if (gServer) gServer->stop();
}
}  // namespace

int main(int argc, char** argv) {
  int port = 8443;
  std::string dir = "mdm-certificates";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--port")
      port = std::atoi(argv[i + 1]);
    else if (arg == "--dir")
      dir = argv[i + 1];
  }
  mdm::MdmServer server(dir);
  if (!server.ready()) {
    std::fprintf(stderr, "mdm: cannot make certificates in %s\n", dir.c_str());
    return 1;
  }
  server.setRequestObserver([](const mdm::Request& r) {
    std::printf("%s %s %s\n", r.method.c_str(), r.path.c_str(),
                r.json ? r.json->dump().c_str() : (std::to_string(r.parts ? r.parts->size() : 0) + " form parts").c_str());
    std::fflush(stdout);
  });
  gServer = &server;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::printf("mdm: https://127.0.0.1:%d (authority %s)\n", port, server.certificates().caCert.c_str());
  std::fflush(stdout);
  if (!server.run(port)) {
    std::fprintf(stderr, "mdm: cannot listen on 127.0.0.1:%d\n", port);
    return 1;
  }
  return 0;
}
