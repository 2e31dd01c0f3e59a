#pragma once
// A synchronous notification centre: `post` calls every matching observer on the calling
// thread, in the order they were added, before it returns. Observers are matched by name
// (an empty name matches every name) and by object (nullptr matches every object).
// Observers may add or remove observers, or post, from inside a callback; an observer
// removed during a post is not called afterwards.

#include <cstdint>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace foundation {

struct Notification {
  std::string name;
  const void* object = nullptr;
  nlohmann::json userInfo;  // an object, or null
};

class NotificationCenter {
 public:
  using Callback = std::function<void(const Notification&)>;
  using Token = uint64_t;

  static NotificationCenter& defaultCenter();

  // `observer` identifies the registration for removal; it is never dereferenced.
  Token addObserver(const void* observer, const std::string& name, const void* object,
                    Callback callback);
  // Keeps one registration per observer, name and object: an earlier one is replaced.
  Token addUniqueObserver(const void* observer, const std::string& name, const void* object,
                          Callback callback);
  void removeObserver(const void* observer);
  void removeObserver(const void* observer, const std::string& name,
                      const void* object = nullptr);
  void removeToken(Token token);
  size_t observerCount(const std::string& name) const;

  void post(const Notification& notification);
  void post(const std::string& name, const void* object = nullptr,
            nlohmann::json userInfo = nullptr);

 private:
  struct Entry {
    Token token;
    const void* observer;
    std::string name;
    const void* object;
    std::shared_ptr<Callback> callback;
  };
  mutable std::recursive_mutex mutex_;
  std::vector<Entry> entries_;
  Token nextToken_ = 1;
};

}  // namespace foundation
