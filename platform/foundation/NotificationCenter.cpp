#include "platform/foundation/NotificationCenter.h"

#include <algorithm>

namespace foundation {

NotificationCenter& NotificationCenter::defaultCenter() {
  static auto* center = new NotificationCenter();
  return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(const void* observer,
                                                          const std::string& name,
                                                          const void* object, Callback callback) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Token t = nextToken_++;
  entries_.push_back(
      Entry{t, observer, name, object, std::make_shared<Callback>(std::move(callback))});
  return t;
}

NotificationCenter::Token NotificationCenter::addUniqueObserver(const void* observer,
                                                                const std::string& name,
                                                                const void* object,
                                                                Callback callback) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) {
    return e.observer == observer && e.name == name && e.object == object;
  });
  return addObserver(observer, name, object, std::move(callback));
}

void NotificationCenter::removeObserver(const void* observer) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) { return e.observer == observer; });
}

void NotificationCenter::removeObserver(const void* observer, const std::string& name,
                                        const void* object) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) {
    return e.observer == observer && (name.empty() || e.name == name) &&
           (object == nullptr || e.object == object);
  });
}

void NotificationCenter::removeToken(Token token) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) { return e.token == token; });
}

size_t NotificationCenter::observerCount(const std::string& name) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return size_t(std::count_if(entries_.begin(), entries_.end(),
                              [&](const Entry& e) { return e.name == name; }));
}

void NotificationCenter::post(const Notification& n) {
  std::vector<std::pair<Token, std::shared_ptr<Callback>>> matched;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (const Entry& e : entries_) {
      if ((e.name.empty() || e.name == n.name) && (e.object == nullptr || e.object == n.object))
        matched.emplace_back(e.token, e.callback);
    }
  }
  for (auto& entry : matched) {
    const Token token = entry.first;
    bool live;
    {
      std::lock_guard<std::recursive_mutex> lock(mutex_);
      live = std::any_of(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.token == token; });
    }
    if (live) (*entry.second)(n);
  }
}

void NotificationCenter::post(const std::string& name, const void* object,
                              nlohmann::json userInfo) {
  post(Notification{name, object, std::move(userInfo)});
}

}  // namespace foundation
