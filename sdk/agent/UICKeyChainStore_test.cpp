// The keychain store over the protected file store, and the agent's identity in it.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "platform/foundation/Paths.h"
#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/agent/VexaIdentifier.h"

namespace kestra::agenttest {
namespace {

class KeychainTest : public ::testing::Test {
 protected:
  void SetUp() override { wipeStores(); }
};

TEST_F(KeychainTest, WriteUpdateAndRemove) {
  UICKeyChainStore store(std::string("com.example.test"));
  EXPECT_EQ(store.description(), "()");
  Error error;
  ASSERT_TRUE(store.setString(std::string("first"), std::string("k"), std::nullopt, std::string("label"),
                              std::string("comment"), &error));
  EXPECT_EQ(store.stringForKey(std::string("k")), "first");
  // An update changes the value and keeps what it was not given.
  ASSERT_TRUE(store.setString(std::string("second"), std::string("k"), &error));
  EXPECT_EQ(store.stringForKey(std::string("k")), "second");
  auto raw = store.items();
  ASSERT_TRUE(raw && raw->size() == 1);
  EXPECT_EQ((*raw)[0]["labl"], "label");
  EXPECT_EQ((*raw)[0]["icmt"], "comment");
  EXPECT_EQ(store.allKeys(), std::vector<std::string>{"k"});
  EXPECT_EQ(store.allItems()[0]["service"], "com.example.test");
  EXPECT_NE(store.description().find("\"value\": \"second\""), std::string::npos);

  // Other services do not see it.
  EXPECT_FALSE(UICKeyChainStore(std::string("other")).contains(std::string("k")));
  EXPECT_EQ(UICKeyChainStore::stringForKeyInService(std::string("k"), std::string("com.example.test"), std::nullopt),
            "second");

  // An absent value removes the key; removing a missing key succeeds; reading it gives
  // nothing and leaves the error alone.
  ASSERT_TRUE(store.setString(std::nullopt, std::string("k"), &error));
  EXPECT_FALSE(store.contains(std::string("k")));
  EXPECT_TRUE(store.removeItemForKey(std::string("k"), &error));
  Error untouched{"x", 42, "y"};
  EXPECT_FALSE(store.stringForKey(std::string("k"), &untouched).has_value());
  EXPECT_EQ(untouched.code, 42);
}

TEST_F(KeychainTest, ErrorsFollowTheTable) {
  UICKeyChainStore store(std::string("errors"));
  struct Case {
    const char* name;
    std::function<bool(Error*)> call;
    int code;
    const char* text;
  };
  const Case cases[] = {
      {"absent key on write", [&](Error* e) { return store.setString(std::string("v"), std::nullopt, e); }, 1,
       "the key must not to be nil"},
      {"absent key on remove", [&](Error* e) { return store.removeItemForKey(std::nullopt, e); }, 1,
       "the key must not to be nil"},
      {"data that is not text",
       [&](Error* e) {
         store.setData(Bytes{0xff, 0xfe, 0x00}, std::string("bin"));
         return store.stringForKey(std::string("bin"), e).has_value();
       },
       -67594, "failed to convert data to string"},
      {"text that is not UTF-8",
       [&](Error* e) { return store.setString(std::string("\xc3\x28"), std::string("t"), e); }, -67594,
       "failed to convert string to data"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Error e;
    EXPECT_FALSE(c.call(&e));
    EXPECT_EQ(e.domain, "com.okt.OKTVexa");
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
  }
  // A store file that is not one fails with the store's status and is left as it was.
  const fs::path file = security::KeychainItems::defaultFile();
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "{ not a keychain";
  Error e;
  EXPECT_FALSE(store.setString(std::string("v"), std::string("k"), &e));
  EXPECT_EQ(e.code, security::kSecDecode);
  EXPECT_EQ(e.text, "Security error has occurred.");
  EXPECT_EQ(foundation::readFile(file), "{ not a keychain");
}

TEST_F(KeychainTest, TheStoreIsPrivateAndOutlivesTheApplicationsFolders) {
  UICKeyChainStore::sharedStore().setString(std::string("secret"), std::string("checkInServer"));
  struct stat st {};
  ASSERT_EQ(::stat(security::KeychainItems::defaultFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Wiping the application's folders (a reinstallation) keeps the item.
  fs::remove_all(foundation::Paths::dataDir());
  fs::remove_all(foundation::Paths::configDir());
  foundation::UserDefaults::resetStandard();
  EXPECT_EQ(UICKeyChainStore::sharedStore().stringForKey(std::string("checkInServer")), "secret");
}

TEST_F(KeychainTest, InternetStoresAreKeptApartByServerAndProtocol) {
  UICKeyChainStore https("https://mdm.example.com:8443/path", 16);
  UICKeyChainStore ftp("ftp://mdm.example.com", 1);
  https.setString(std::string("pw"), std::string("user"));
  EXPECT_FALSE(ftp.contains(std::string("user")));
  EXPECT_EQ(https.allItems()[0]["server"], "mdm.example.com");
  auto keys = UICKeyChainStore::allKeysWithItemClass(UICKeyChainStoreItemClassInternetPassword);
  ASSERT_TRUE(keys && keys->size() == 1);
  EXPECT_EQ((*keys)[0]["key"], "user");
  std::optional<Error> seen;
  UICKeyChainStore(std::string(""), 16).sharedPasswordForAccount("user", [&](OptString, Error e) { seen = e; });
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->code, 1);
}

TEST_F(KeychainTest, TheIdentifierIsReconciledBetweenTheTwoStores) {
  struct Case {
    const char* name;
    std::optional<std::string> keychain, defaults;
    std::optional<std::string> expected;  // nothing: a new one
  };
  const Case cases[] = {
      {"both equal", "AAAAAAAA", "AAAAAAAA", "AAAAAAAA"},
      {"keychain wins", "KEYCHAIN-1", "DEFAULTS-1", "KEYCHAIN-1"},
      {"reinstalled: defaults wiped", "KEYCHAIN-2", std::nullopt, "KEYCHAIN-2"},
      {"keychain lost", std::nullopt, "DEFAULTS-3", "DEFAULTS-3"},
      {"fresh device", std::nullopt, std::nullopt, std::nullopt},
      {"too short on both", "ABCDE", "12345", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    wipeStores();
    auto& defaults = foundation::UserDefaults::standard();
    if (c.keychain) UICKeyChainStore::sharedStore().setString(*c.keychain, std::string("UUID"));
    if (c.defaults) defaults.setString("UUID", *c.defaults);
    const std::string id = VexaIdentifier::getUUID();
    if (c.expected) {
      EXPECT_EQ(id, *c.expected);
    } else {
      EXPECT_EQ(id.size(), 36u);
      EXPECT_EQ(id, [&] {
        std::string up = id;
        for (auto& ch : up) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        return up;
      }());
    }
    EXPECT_EQ(defaults.stringForKey("UUID"), id);
    EXPECT_EQ(UICKeyChainStore::sharedStore().stringForKey(std::string("UUID")), id);
  }
  // A management serial of five characters counts as missing on the next read.
  VexaIdentifier::setUUID("SER12");
  EXPECT_NE(VexaIdentifier::getUUID(), "SER12");
  VexaIdentifier::setPhoneNumber(std::string("+15551234"));
  EXPECT_EQ(VexaIdentifier::getPhoneNumber(), "+15551234");
  auto team = VexaIdentifier::bundleSeedID();
  ASSERT_TRUE(team.has_value());
  EXPECT_EQ(VexaIdentifier::bundleSeedID(), team);
}

}  // namespace
}  // namespace kestra::agenttest

namespace kestra::agenttest {
namespace {

TEST_F(KeychainTest, ConcurrentFirstReadsAgreeOnOneIdentifier) {
  std::vector<std::string> ids(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < ids.size(); ++i) threads.emplace_back([&, i] { ids[i] = VexaIdentifier::getUUID(); });
  for (auto& t : threads) t.join();
  for (const auto& id : ids) EXPECT_EQ(id, ids[0]);
  EXPECT_EQ(foundation::UserDefaults::standard().stringForKey("UUID"), ids[0]);
}

}  // namespace
}  // namespace kestra::agenttest
