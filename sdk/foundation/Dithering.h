#pragma once
// Black-and-white dots for devices that print or show one bit per dot.
//
// getDitheredData renders an image to grey, dithers it with Floyd-Steinberg error diffusion
// and places it left, centred or right in rows of R × 8 dots, one byte per dot (1 black,
// 0 white), where R (the row length in bytes) = ceil((offset + W) / 8) and W is the drawn
// width (the image's width, squeezed to `maxWidth` when wider).
//
// getDitheredPinpadData repacks that raster into the page layout of a monochrome display
// controller: ceil(H / 8) pages of 8 dot rows, one byte per column, pages WI bytes apart
// (WI = the image's own width), bit k of a byte being row page × 8 + k.
//
// Both are reentrant and never read or write outside their buffers.

#include <optional>

#include "platform/foundation/Bytes.h"
#include "sdk/foundation/KXImage.h"

namespace kestra {

// `alignment`: 0 left, 1 centre, 2 right, anything else left. `rowLength` (when given)
// receives R. Nothing for an image or width of no size, or rows of more dots than an int holds.
std::optional<foundation::Bytes> getDitheredData(const KXImage& image, int alignment,
                                                 int maxWidth, int* rowLength);

// The buffer is max(R × 8, WI) × ceil(H / 8) bytes; columns of the page that the raster does
// not cover stay 0.
std::optional<foundation::Bytes> getDitheredPinpadData(const KXImage& image, int alignment,
                                                       int maxWidth);

}  // namespace kestra
