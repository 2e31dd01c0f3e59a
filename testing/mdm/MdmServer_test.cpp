#include "testing/mdm/MdmServer.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <stdlib.h>

#include <filesystem>

#include "sdk/agent/VexaLog.h"

namespace mdm {
namespace {

// A private folder under the test's temporary folder, removed when the test ends.
struct ScratchFolder {
  std::filesystem::path path;
  explicit ScratchFolder(const std::string& prefix) {
    std::string tmpl = (std::filesystem::path(::testing::TempDir()) / (prefix + "-XXXXXX")).string();
    if (char* made = ::mkdtemp(tmpl.data())) path = made;
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

TEST(MdmForms, TheAgentsLogFormReadsBackPartByPart) {
  const std::string boundary = "--Vexa-Boundary-0F1E2D3C";
  const std::string body = kestra::VexaInternalLogger::multipartBody(boundary, "SERIAL-1", "com.orvo.OrvoMobile",
                                                                    "/data/VexaLogs/20261210", "line one\nline two\n");
  // The delimiter lines begin with four dashes, as the boundary itself begins with two.
  EXPECT_EQ(body.rfind("----Vexa-Boundary-0F1E2D3C\r\n", 0), 0u);
  EXPECT_NE(body.find("\r\n----Vexa-Boundary-0F1E2D3C--\r\n"), std::string::npos);
  auto b = boundaryOf("multipart/form-data; boundary=" + boundary);
  ASSERT_EQ(b, boundary);
  auto parts = parseMultipart(body, *b);
  ASSERT_TRUE(parts.has_value());
  ASSERT_EQ(parts->size(), 4u);
  EXPECT_EQ((*parts)[0].name, "serial");
  EXPECT_EQ((*parts)[0].value, "SERIAL-1");
  EXPECT_EQ((*parts)[2].value, "Apple");
  EXPECT_EQ((*parts)[3].filename, "/data/VexaLogs/20261210");
  EXPECT_EQ((*parts)[3].contentType, "\"text/plain\"");
  EXPECT_EQ((*parts)[3].value, "line one\nline two\n");
}

TEST(MdmForms, MalformedFormsAreRefused) {
  const char* bad[] = {"", "--b", "--b\r\nno blank line", "--b\r\nContent-Disposition: form-data\r\n\r\nvalue",
                       "--b\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\nvalue without end",
                       "--bX\r\n"};
  for (const char* body : bad) {
    SCOPED_TRACE(body);
    EXPECT_FALSE(parseMultipart(body, "b").has_value());
  }
  EXPECT_FALSE(boundaryOf("application/json").has_value());
  EXPECT_FALSE(boundaryOf("multipart/form-data; boundary=").has_value());
}

TEST(MdmServer, AnswersFromItsScriptThenItsDefaultAndRecordsJson) {
  const ScratchFolder scratch("mdm-server-test");
  MdmServer server(scratch.path);
  ASSERT_TRUE(server.ready() && server.start());
  server.script(kCheckInPath, {500, R"({"message":"Error: busy"})"});
  httplib::SSLClient client("127.0.0.1", server.port());
  client.set_ca_cert_path(server.certificates().caCert.c_str());
  client.enable_server_certificate_verification(true);
  auto first = client.Post(kCheckInPath, R"({"serviceType":"check_in","payload":[]})", "application/json");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 500);
  auto second = client.Post(kCheckInPath, R"({"serviceType":"check_in","payload":[]})", "application/json");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->status, 200);
  EXPECT_EQ(second->body, R"({"message":"Success"})");
  EXPECT_EQ(server.service("check_in").size(), 2u);

  server.script(kMetricPath, {200, "{}", "application/json", {}, true});
  auto dropped = client.Post(kMetricPath, "{}", "application/json");
  EXPECT_FALSE(dropped && dropped->body == "{}");
}

}  // namespace
}  // namespace mdm
