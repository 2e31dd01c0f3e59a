#pragma once
// Derived unique key per transaction (ANSI X9.24-1, Triple-DES) as a pinpad computes it:
// the initial key from the base derivation key and the key serial number, and the key of
// each transaction counter. The simulated pinpad keeps its DUKPT keys with these.

#include "platform/foundation/Bytes.h"

namespace devices::dukpt {

using foundation::Bytes;

// The initial key (16 bytes) of `ksn` (10 bytes; its counter is ignored) under `bdk` (16).
Bytes initialKey(const Bytes& bdk, const Bytes& ksn);
// The transaction key (16 bytes) of `ksn` (10 bytes) from the initial key.
Bytes transactionKey(const Bytes& ipek, const Bytes& ksn);
// The key serial number after `ksn`: the next 21-bit counter with at most ten one-bits.
Bytes nextKsn(const Bytes& ksn);
// Key variants of a transaction key.
Bytes pinKey(const Bytes& key);
Bytes dataKey(const Bytes& key);

}  // namespace devices::dukpt
