#pragma once
// The exception that request and answer methods catch and report with the alert
// "[F]%s\n[N]%@\n[M]%@" (method, name, reason). `name` follows the platform's exception
// names ("NSInvalidArgumentException", "NSRangeException") so that the alert reads the same.

#include <stdexcept>
#include <string>

namespace orvo {

class AppException : public std::runtime_error {
 public:
  AppException(std::string name, const std::string& reason)
      : std::runtime_error(reason), name_(std::move(name)) {}
  const std::string& name() const { return name_; }
  std::string reason() const { return what(); }

 private:
  std::string name_;
};

// The name and reason shown for any exception caught by an answer method.
inline std::string exceptionName(const std::exception& e) {
  if (auto* a = dynamic_cast<const AppException*>(&e)) return a->name();
  return "NSGenericException";
}

}  // namespace orvo
