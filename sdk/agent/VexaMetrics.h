#pragma once
// A metric: a named, categorised pair of counters (numerator and denominator) kept in the
// user defaults under "VexaMetrics", so counts survive restarts. The numerator's key is
// "<name>_<category>" and the denominator's "<name>", both lower-cased without blanks, so
// metrics of one name share their denominator. The agent uploads registered metrics at
// each check-in and subtracts what the server accepted.
//
// Threads: any. Every change is one read-change-write of the whole counter dictionary under
// one process-wide lock, so concurrent updates from the host and the upload are never lost.

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "platform/foundation/Clock.h"

namespace kestra {

class VexaMetrics {
 public:
  VexaMetrics(std::string name, std::string category);

  const std::string& name() const { return name_; }
  const std::string& category() const { return category_; }
  const std::string& numeratorKey() const { return numeratorKey_; }
  const std::string& denominatorKey() const { return denominatorKey_; }

  int64_t numeratorCount() const;
  int64_t denominatorCount() const;
  void setNumeratorCount(int64_t value);
  void setDenominatorCount(int64_t value);
  void addNumeratorCount(int64_t value);
  void addDenominatorCount(int64_t value);
  void resetNumerator() { setNumeratorCount(0); }
  void resetDenominator() { setDenominatorCount(0); }
  void resetAll();
  // Subtracts what an upload carried, never going below 0.
  void subtractUploaded(int64_t numerator, int64_t denominator);

 private:
  std::string name_;
  std::string category_;
  std::string numeratorKey_;
  std::string denominatorKey_;
};

class VexaPayload {
 public:
  // The body of one metric upload.
  static nlohmann::ordered_json metric(const VexaMetrics& metric, int64_t numerator, int64_t denominator,
                                       foundation::WallTime now);
};

}  // namespace kestra
