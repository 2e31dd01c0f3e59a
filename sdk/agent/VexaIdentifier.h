#pragma once
// The agent's identity for this installation of the application: an identifier ("UUID")
// kept both in the secret store, which outlives a reinstallation, and in the user defaults;
// the phone number a management provider may hand over; and the publisher's team
// identifier. The identifier is the phone's "serial" in every message of the agent.
//
// An identifier of fewer than 6 characters counts as missing. Store failures are not
// reported: a failed read counts as missing, a failed write is dropped.
//
// Threads: any; reconciliations run one at a time, so concurrent first calls agree on one
// identifier.

#include <optional>
#include <string>

namespace kestra {

class VexaIdentifier {
 public:
  // The identifier, reconciled between the two stores: the secret store wins; a missing
  // one is copied from the other; when both are missing a new random one is made and
  // written to both.
  static std::string getUUID();
  static void setUUID(const std::string& uuid);
  static void setPhoneNumber(const std::optional<std::string>& number);
  static std::optional<std::string> getPhoneNumber();
  // The publisher's team identifier: user defaults "TEAM_ID", else the first dot-separated
  // part of the access group of the store's "bundleSeedID" item (made when missing).
  static std::optional<std::string> bundleSeedID();
};

}  // namespace kestra
