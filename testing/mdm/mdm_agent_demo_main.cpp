// Shows the device-management agent checking in: starts the management server on loopback,
// points the process's agent at it, forces one check-in and prints what the server got.
//
//   mdm_agent_demo [--dir FOLDER]

#include <cstdio>
#include <string>

#include "platform/foundation/RunLoop.h"
#include "sdk/agent/OKTVexa.h"
#include "testing/mdm/MdmServer.h"

int main(int argc, char** argv) {
  std::string dir = "mdm-certificates";
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::string(argv[i]) == "--dir") dir = argv[i + 1];
  mdm::MdmServer server(dir);
  if (!server.ready() || !server.start()) {
    std::fprintf(stderr, "mdm_agent_demo: cannot start the management server\n");
    return 1;
  }
  kestra::VexaNetworkAction::setServer(server.origin(), server.certificates().caCert.string());
  auto agent = kestra::OKTVexa::registerOKTVexa();
  agent->setLocationEnabled(false);
  bool done = false;
  bool accepted = false;
  agent->setAllowCheckIn(true);
  agent->checkInWithCompletionBlock([&](const kestra::VexaPostResult& r) {
    accepted = r.success;
    done = true;
  });
  foundation::RunLoop::main().runUntil([&] { return done; }, std::chrono::seconds(30));
  for (const auto& r : server.requests())
    std::printf("%s %s\n%s\n\n", r.method.c_str(), r.path.c_str(), r.json ? r.json->dump(2).c_str() : r.body.c_str());
  std::printf("check-in %s\n", accepted ? "accepted" : "not accepted");
  return accepted ? 0 : 1;
}
