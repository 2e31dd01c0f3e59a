#pragma once
// libcurl, opened the first time a transfer needs it rather than when the program starts.
// Linked in, libcurl and the two dozen libraries it brings (TLS, Kerberos, LDAP, SSH, RTMP,
// IDN, PSL, HTTP/2) are mapped, relocated and initialised before `main`, which is most of
// what a program's start costs beyond its window; opened here they cost a program that
// never sends anything nothing, and one that does pays once, off the way to its first frame.
//
// `CurlLibrary::get()` opens the library (the ABI of libcurl.so.4), resolves the entry points
// below and runs `curl_global_init`, once for the process, on whichever thread asks first;
// the answer is kept for the life of the process (the library is never closed). When the
// library cannot be opened or lacks an entry point, `get()` answers nullptr and says why in
// `error`, every time it is asked: callers fail their transfer with that text and nothing
// else happens. Thread-safe.

#include <curl/curl.h>

#include <string>

namespace net {

struct CurlLibrary {
  // The ABI the project builds against (libcurl 7.16 and later).
  static constexpr const char* kSoname = "libcurl.so.4";

  static const CurlLibrary* get(std::string* error = nullptr);

  decltype(&::curl_global_init) global_init = nullptr;
  decltype(&::curl_easy_init) easy_init = nullptr;
  decltype(&::curl_easy_setopt) easy_setopt = nullptr;
  decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&::curl_easy_perform) easy_perform = nullptr;
  decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&::curl_easy_strerror) easy_strerror = nullptr;
  decltype(&::curl_multi_init) multi_init = nullptr;
  decltype(&::curl_multi_add_handle) multi_add_handle = nullptr;
  decltype(&::curl_multi_remove_handle) multi_remove_handle = nullptr;
  decltype(&::curl_multi_perform) multi_perform = nullptr;
  decltype(&::curl_multi_info_read) multi_info_read = nullptr;
  decltype(&::curl_multi_timeout) multi_timeout = nullptr;
  decltype(&::curl_multi_poll) multi_poll = nullptr;
  decltype(&::curl_multi_wakeup) multi_wakeup = nullptr;
  decltype(&::curl_multi_cleanup) multi_cleanup = nullptr;
  decltype(&::curl_slist_append) slist_append = nullptr;
  decltype(&::curl_slist_free_all) slist_free_all = nullptr;
  decltype(&::curl_url) url = nullptr;
  decltype(&::curl_url_set) url_set = nullptr;
  decltype(&::curl_url_get) url_get = nullptr;
  decltype(&::curl_url_cleanup) url_cleanup = nullptr;
  decltype(&::curl_free) free = nullptr;
  decltype(&::curl_mime_init) mime_init = nullptr;
  decltype(&::curl_mime_addpart) mime_addpart = nullptr;
  decltype(&::curl_mime_data) mime_data = nullptr;
  decltype(&::curl_mime_type) mime_type = nullptr;
  decltype(&::curl_mime_encoder) mime_encoder = nullptr;
  decltype(&::curl_mime_headers) mime_headers = nullptr;
  decltype(&::curl_mime_free) mime_free = nullptr;
};

}  // namespace net
