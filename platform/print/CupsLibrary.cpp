#include "platform/print/CupsLibrary.h"

#include <dlfcn.h>

namespace print {
namespace {

struct Loaded {
  CupsLibrary library;
  bool ok = false;
  std::string error;
};

Loaded load() {
  Loaded out;
  // Local: the library's names stay out of the process's global scope.
  void* handle = ::dlopen(CupsLibrary::kSoname, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    out.error = std::string(CupsLibrary::kSoname) + " could not be loaded" + (why ? std::string(": ") + why : "");
    return out;
  }
  CupsLibrary& l = out.library;
#define KESTRA_CUPS_RESOLVE(name)                                                   \
  l.name = reinterpret_cast<decltype(l.name)>(::dlsym(handle, #name));              \
  if (!l.name && out.error.empty()) out.error = std::string(CupsLibrary::kSoname) + " lacks " #name;
  KESTRA_CUPS_ENTRIES(KESTRA_CUPS_RESOLVE)
#undef KESTRA_CUPS_RESOLVE
  out.ok = out.error.empty();
  return out;
}

}  // namespace

const CupsLibrary* CupsLibrary::get(std::string* error) {
  // Kept for the whole process: jobs on their own threads may use it while the process exits.
  static const Loaded* const loaded = new Loaded(load());
  if (!loaded->ok) {
    if (error) *error = loaded->error;
    return nullptr;
  }
  return &loaded->library;
}

}  // namespace print
