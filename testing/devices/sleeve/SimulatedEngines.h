#pragma once
// Barcode engines behind the simulated sleeve's engine pass-through: bytes the host writes
// (sleeve command 23) go to `receive`, and what the engine says waits in `output`, one
// message per sleeve read (command 22), so two answers sent one after the other reach the
// host in two reads, as a real engine's do over time.
//
// Three families, each with its own packets and check values:
//  - `CodeEngine`: EE EE EE EE packets with the masked CRC-16, answered in the short (RS)
//    form or, for 'I', the long ('R') form with a sequence number; parameters, information,
//    file upload ('1', '2', '5') and firmware load ('S' chunks, then '5').
//  - `NewlandEngine`: 7E 00 queries with their LRC and 02 05 command frames with CRC-32,
//    answered "0" (or an error text); in download mode, 1029-byte frames answered '*'.
//  - `OpticonEngine`: ESC ... CR parameter strings, ESC Z1 CR identification, and 8198-byte
//    firmware blocks answered "NX" (or "RT" for a bad sum), then the end block answered "F".
//
// Fault knobs (all engines): `silent` (no answer at all), `refuse` (the family's refusal),
// `corrupt` (the next answer's check value or frame spoilt). Firmware is taken only while
// the sleeve has the engine in update mode.
//
// Not thread-safe: the simulated sleeve calls it under its lock.

#include <deque>
#include <map>
#include <memory>
#include <string>

#include "platform/foundation/Bytes.h"

namespace devices {

using foundation::Bytes;

class SimulatedEngine {
 public:
  enum class Family { Opticon, Code, Newland };
  virtual ~SimulatedEngine() = default;
  static std::unique_ptr<SimulatedEngine> make(Family family);
  // The two-letter model code of a sleeve carrying this engine ("XB", "CB", "NB").
  virtual const char* modelCode() const = 0;

  // Host bytes written to the engine.
  void receive(const Bytes& bytes);
  // The next message for the host (empty when there is none).
  Bytes takeOutput();

  bool updateMode = false;  // the sleeve's command 36
  bool silent = false;
  bool refuse = false;
  bool corrupt = false;
  std::deque<Bytes> output;
  Bytes written;  // every byte the host wrote
  Bytes firmware;  // the last image the engine took whole
  int firmwareUpdates = 0;

 protected:
  // Consumes whole packets from the front of `pending`; returns false to wait for more.
  virtual bool parse(Bytes& pending) = 0;
  void say(Bytes message);
  Bytes pending_;
};

class CodeEngine final : public SimulatedEngine {
 public:
  const char* modelCode() const override { return "CB"; }
  std::map<int, uint64_t> params;
  std::string information = "i0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklm" "DEC7";
  std::vector<int> acknowledged;  // sequence numbers of the 'Y' packets
  std::string installedFile;
  Bytes uploaded;

 protected:
  bool parse(Bytes& pending) override;

 private:
  void answer(const std::string& text);
  void answerLong(const std::string& text);
  int sequence_ = 0;
  Bytes loading_;
  bool loadDone_ = false;
};

class NewlandEngine final : public SimulatedEngine {
 public:
  const char* modelCode() const override { return "NB"; }
  std::vector<std::string> commands;
  Bytes queryAnswer = {0x33, 0x31, 0x30};

 protected:
  bool parse(Bytes& pending) override;

 private:
  size_t dataLength_ = 0, frames_ = 0, framesTaken_ = 0;
  bool downloading_ = false;
  Bytes image_;
};

class OpticonEngine final : public SimulatedEngine {
 public:
  const char* modelCode() const override { return "XB"; }
  std::string ident = "OPTICON MDI-3100 RV 1.23";
  std::vector<std::string> params;
  bool saved = false;
  int retryBlocks = 0;       // the next blocks answered "RT" however good they are
  bool failAtEnd = false;    // the end block answered "W"
  std::vector<int> blockNumbers;

 protected:
  bool parse(Bytes& pending) override;

 private:
  Bytes image_;
};

}  // namespace devices
