// The device API's printing calls: each goes to the active receipt printer, or (for the
// calls a pinpad with a printer also offers) to the pinpad's printer channel.

#include "sdk/device/KXDevices.h"
#include "sdk/foundation/KXErrors.h"

namespace kestra {

#define KXDEF
#define KX_PRN(R, API, DRV, P, A, F)                     \
  R KXDevices::API P {                                   \
    if (route({Kind::Printer})) return printer().DRV A;  \
    routeError(error);                                   \
    return F;                                            \
  }
#define KX_PRN_SHARED(R, API, DRV, PIN, P, A, F)                \
  R KXDevices::API P {                                          \
    const auto kind = route({Kind::Printer, Kind::Pinpad});     \
    if (kind == Kind::Printer) return printer().DRV A;          \
    if (kind == Kind::Pinpad) return pinpad_->PIN A;            \
    routeError(error);                                          \
    return F;                                                   \
  }
#include "sdk/device/KXPrinterAPI.inc"

bool KXDevices::prnGetPrinterStatus(int* status, Error* error) {
  if (!route({Kind::Printer})) return routeError(error);
  const int s = printer().getPrinterStatus(nullptr);
  if (s == -1) return foundation::fail(error, KXUNISDKGlobals::makeError(-20, std::string(KXErrors::getErrorDescription(-20))));
  if (status) *status = s;
  return true;
}

bool KXDevices::prnStartTransaction(Error* error) {
  if (!route({Kind::Printer})) return routeError(error);
  printer().prnStartTransaction();
  return true;
}

bool KXDevices::prnEndTransaction(Error* error) {
  if (!route({Kind::Printer})) return routeError(error);
  printer().prnEndStransaction();
  return true;
}

bool KXDevices::pageIsSupported() { return route({Kind::Printer}) && printer().pageIsSupported(); }

bool KXDevices::tableIsSupported() { return route({Kind::Printer}) && printer().tableIsSupported(); }

namespace {
// A colour as the printer takes it: -1 none, 1 black (a dark colour), 0 white.
int printerColor(const std::optional<KXColor>& color) {
  if (!color) return -1;
  return color->red + color->green + color->blue < 1.5 ? 1 : 0;
}
}  // namespace

bool KXDevices::pageFillRectangle(const std::optional<KXColor>& color, Error* error) {
  if (!route({Kind::Printer})) return routeError(error);
  return printer().pageFillRectangle(printerColor(color), error);
}

bool KXDevices::pageFillRectangle(int left, int top, int width, int height, const std::optional<KXColor>& color,
                                  Error* error) {
  if (!route({Kind::Printer})) return routeError(error);
  return printer().pageFillRectangle(left, top, width, height, printerColor(color), error);
}

bool KXDevices::pageRectangleFrame(int left, int top, int width, int height, int frameWidth,
                                   const std::optional<KXColor>& color, Error* error) {
  if (!route({Kind::Printer})) return routeError(error);
  return printer().pageRectangleFrame(left, top, width, height, frameWidth, printerColor(color), error);
}

bool KXDevices::ppadLoadLogo(const KXImage&, int, Error* error) { return routeError(error); }

}  // namespace kestra
