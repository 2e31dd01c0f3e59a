#include "platform/net/CurlLibrary.h"

#include <dlfcn.h>

#include <mutex>

namespace net {
namespace {

struct Loaded {
  CurlLibrary library;
  bool ok = false;
  std::string error;
};

template <class Fn>
bool resolve(void* handle, const char* name, Fn& slot, std::string& error) {
  slot = reinterpret_cast<Fn>(::dlsym(handle, name));
  if (!slot && error.empty()) error = std::string(CurlLibrary::kSoname) + " lacks " + name;
  return slot != nullptr;
}

Loaded load() {
  Loaded out;
  // Local: the library's names stay out of the process's global scope.
  void* handle = ::dlopen(CurlLibrary::kSoname, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    out.error = std::string(CurlLibrary::kSoname) + " could not be loaded" + (why ? std::string(": ") + why : "");
    return out;
  }
  CurlLibrary& l = out.library;
  std::string& e = out.error;
  bool ok = true;
#define KESTRA_CURL_ENTRY(name) ok = resolve(handle, "curl_" #name, l.name, e) && ok
  KESTRA_CURL_ENTRY(global_init);
  KESTRA_CURL_ENTRY(easy_init);
  KESTRA_CURL_ENTRY(easy_setopt);
  KESTRA_CURL_ENTRY(easy_getinfo);
  KESTRA_CURL_ENTRY(easy_perform);
  KESTRA_CURL_ENTRY(easy_cleanup);
  KESTRA_CURL_ENTRY(easy_strerror);
  KESTRA_CURL_ENTRY(multi_init);
  KESTRA_CURL_ENTRY(multi_add_handle);
  KESTRA_CURL_ENTRY(multi_remove_handle);
  KESTRA_CURL_ENTRY(multi_perform);
  KESTRA_CURL_ENTRY(multi_info_read);
  KESTRA_CURL_ENTRY(multi_timeout);
  KESTRA_CURL_ENTRY(multi_poll);
  KESTRA_CURL_ENTRY(multi_wakeup);
  KESTRA_CURL_ENTRY(multi_cleanup);
  KESTRA_CURL_ENTRY(slist_append);
  KESTRA_CURL_ENTRY(slist_free_all);
  KESTRA_CURL_ENTRY(url);
  KESTRA_CURL_ENTRY(url_set);
  KESTRA_CURL_ENTRY(url_get);
  KESTRA_CURL_ENTRY(url_cleanup);
  KESTRA_CURL_ENTRY(free);
  KESTRA_CURL_ENTRY(mime_init);
  KESTRA_CURL_ENTRY(mime_addpart);
  KESTRA_CURL_ENTRY(mime_data);
  KESTRA_CURL_ENTRY(mime_type);
  KESTRA_CURL_ENTRY(mime_encoder);
  KESTRA_CURL_ENTRY(mime_headers);
  KESTRA_CURL_ENTRY(mime_free);
#undef KESTRA_CURL_ENTRY
  if (!ok) return out;
  if (const CURLcode rc = l.global_init(CURL_GLOBAL_DEFAULT); rc != CURLE_OK) {
    e = std::string(CurlLibrary::kSoname) + " could not be initialised: " + l.easy_strerror(rc);
    return out;
  }
  out.ok = true;
  return out;
}

}  // namespace

const CurlLibrary* CurlLibrary::get(std::string* error) {
  // Kept for the whole process: transfers on any thread may use it while the process exits.
  static const Loaded* const loaded = new Loaded(load());
  if (!loaded->ok) {
    if (error) *error = loaded->error;
    return nullptr;
  }
  return &loaded->library;
}

}  // namespace net
