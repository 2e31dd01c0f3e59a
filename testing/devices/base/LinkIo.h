#pragma once
// Writing a simulator's bytes to the host's end of a socket.

#include <cstddef>
#include <cstdint>

namespace devices {

// Writes `length` bytes to the non-blocking socket `fd`, waiting (bounded) while it is full.
// With `waitDrained` it returns only once the host has read them, so that the next write
// arrives as a separate read. Gives up silently on a closed link.
void writeToLink(int fd, const uint8_t* data, size_t length, bool waitDrained);

}  // namespace devices
