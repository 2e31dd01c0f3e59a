#include "platform/security/KeychainItems.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/foundation/UserDefaults.h"

namespace security {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A keychain file in a private folder, removed with the folder at the end of the test.
struct TempKeychain {
  TempKeychain() {
    char pattern[] = "/tmp/keychain-items-XXXXXX";
    folder = ::mkdtemp(pattern);
    file = folder / "items.json";
  }
  ~TempKeychain() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
  fs::path folder, file;
};

TEST(KeychainItems, AddFindUpdateRemove) {
  TempKeychain temp;
  KeychainItems store(temp.file);
  const json item = {{"class", "genp"}, {"svce", "s"}, {"acct", "a"}, {"v_Data", "dmFsdWU="}, {"sync", false}};
  EXPECT_EQ(store.copyMatching({{"class", "genp"}}, true, nullptr), kSecItemNotFound);
  EXPECT_EQ(store.add(item), kSecSuccess);
  EXPECT_EQ(store.add(item), kSecDuplicateItem);
  std::vector<json> found;
  EXPECT_EQ(store.copyMatching({{"class", "genp"}, {"acct", "a"}, {"sync", "any"}}, false, &found), kSecSuccess);
  EXPECT_EQ(found.at(0)["v_Data"], "dmFsdWU=");
  EXPECT_EQ(store.copyMatching({{"class", "genp"}, {"acct", "a"}, {"sync", true}}, false, nullptr), kSecItemNotFound);
  EXPECT_EQ(store.update({{"acct", "a"}}, {{"labl", "L"}}), kSecSuccess);
  EXPECT_EQ(store.update({{"acct", "zz"}}, {{"labl", "L"}}), kSecItemNotFound);
  // Another store on the same file sees the change.
  KeychainItems again(store.file());
  EXPECT_EQ(again.copyMatching({{"labl", "L"}}, false, &found), kSecSuccess);
  struct stat st {};
  ASSERT_EQ(::stat(store.file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(store.remove({{"acct", "a"}}), kSecSuccess);
  EXPECT_EQ(store.remove({{"acct", "a"}}), kSecItemNotFound);
  EXPECT_EQ(store.add({{"svce", "no class"}}), kSecParam);
}

TEST(KeychainItems, FilesThatAreNotKeychainsAreRefusedAndKept) {
  const char* bad[] = {"", "[]", "{\"items\": 3}", "{\"items\": [1]}", "{\"items\": [{\"svce\": \"x\"}]}",
                       "{\"items\": [{\"class\": \"genp\", \"v_Data\": 5}]}", "\xff\xfe"};
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parseKeychainFile(text).has_value());
    TempKeychain temp;
    const fs::path& file = temp.file;
    std::ofstream(file) << text;
    KeychainItems store(file);
    EXPECT_EQ(store.add({{"class", "genp"}}), kSecDecode);
    EXPECT_EQ(foundation::readFile(file), std::string(text));
  }
  auto ok = parseKeychainFile(writeKeychainFile({{{"class", "genp"}, {"acct", "x"}}}));
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(ok->at(0)["acct"], "x");
}

}  // namespace
}  // namespace security
