#pragma once
// libcups, opened the first time the print service talks to the scheduler rather than when
// the program starts. Linked in, libcups and what it brings (GnuTLS, Avahi, Kerberos) are
// mapped, relocated and initialised before `main`, on the way to the window's first frame,
// for a service most runs never use.
//
// `CupsLibrary::get()` opens the library (the ABI of libcups.so.2) and resolves the entry
// points below, once for the process, on whichever thread asks first; the answer is kept for
// the life of the process (the library is never closed). When the library cannot be opened
// or lacks an entry point, `get()` answers nullptr and says why in `error`, every time it is
// asked. Thread-safe.

#include <cups/cups.h>

#include <string>

namespace print {

#define KESTRA_CUPS_ENTRIES(X)                                                                              \
  X(cupsServer) X(cupsUser) X(cupsDoRequest) X(cupsLastError) X(cupsLastErrorString) X(cupsAddOption)     \
  X(cupsFreeOptions) X(cupsStartDocument) X(cupsWriteRequestData) X(cupsFinishDocument) X(httpConnect2)   \
  X(httpSetTimeout) X(httpClose) X(httpAssembleURIf) X(ippPort) X(ippNewRequest) X(ippDelete)              \
  X(ippAddString) X(ippAddStrings) X(ippFindAttribute) X(ippFirstAttribute) X(ippNextAttribute)          \
  X(ippGetName) X(ippGetString) X(ippGetInteger) X(cupsEncodeOptions2) X(cupsCancelJob2)

struct CupsLibrary {
  static constexpr const char* kSoname = "libcups.so.2";

  static const CupsLibrary* get(std::string* error = nullptr);

#define KESTRA_CUPS_FIELD(name) decltype(&::name) name = nullptr;
  KESTRA_CUPS_ENTRIES(KESTRA_CUPS_FIELD)
#undef KESTRA_CUPS_FIELD
};

}  // namespace print
