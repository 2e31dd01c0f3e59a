#pragma once
// The printer driver's state, shared by its source files. Not part of the SDK's interface.

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "sdk/foundation/KXDelegateList.h"
#include "sdk/printer/Printer.h"
#include "sdk/printer/PrinterCommands.h"
#include "sdk/printer/PrinterFrame.h"
#include "sdk/printer/PrinterText.h"

namespace kestra {

// A lock taken with a deadline on the `Clock` and released by whoever holds it (a print
// transaction is begun and ended by two calls).
class PrinterLock {
 public:
  bool acquire(foundation::Duration timeout) {
    std::unique_lock<std::mutex> lock(m_);
    if (!foundation::Clock::current().waitFor(lock, cv_, timeout, [this] { return !busy_; }))
      return false;
    busy_ = true;
    return true;
  }
  bool tryAcquire() {
    std::lock_guard<std::mutex> lock(m_);
    if (busy_) return false;
    busy_ = true;
    return true;
  }
  void release() {
    {
      std::lock_guard<std::mutex> lock(m_);
      busy_ = false;
    }
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool busy_ = false;
};

// Text, page and table state and the paper values identification sets: one for the process,
// shared by both printers.
struct PrinterShared {
  std::atomic<int> pagewidth{384};
  std::atomic<int> feedlines{1};
  std::atomic<int> text_linespace{34};
  std::atomic<int> pageheight{0};
  std::mutex textMutex;  // one text layout at a time
  printer::TextState text;
  std::mutex tableMutex;
  printer::TableLayout table;
  int tblrowheight = 34;
  static PrinterShared& get();
};

// The encrypted-head library's owner token of printer `index`.
void* printerEmsrOwner(int index);

struct Printer::Impl {
  Impl(int i, EAManager& m) : index(i), manager(m), delegates("PRN") {}

  const int index;
  EAManager& manager;
  KXDelegateList<PrinterDelegate> delegates;
  std::shared_ptr<CommStream> comm;

  // Locks, in the order they nest: writeLock -> cmdLock -> dataLock.
  PrinterLock writeLock, cmdLock, transactionLock;
  std::mutex printLock;
  std::mutex dataLock;   // the write cache
  std::mutex cacheLock;  // cacheTime

  mutable std::mutex linkMutex;  // eaStream and the identity strings
  std::shared_ptr<EAStream> eaStream;
  std::string deviceName, deviceModel, firmwareRevision, hardwareRevision, serialNumber;
  std::atomic<bool> eaStreamConnected{false};
  std::atomic<bool> commStreamConnected{false};

  std::mutex threadMutex;
  std::condition_variable threadWake;  // ends the write thread's pause when it must stop
  std::thread writeThread;
  std::atomic<bool> writeThreadStop{false};
  std::atomic<bool> inCommand{false};

  std::atomic<bool> zpl{false};
  std::atomic<bool> escpos{false};
  std::atomic<int> emsrTracks{0xA7};
  mutable std::mutex infoMutex;
  KXPrinterInfo info;
  std::atomic<int> fwver{0};
  std::atomic<int> printer{3};
  std::atomic<int> margin{0};
  std::mutex barMutex;
  printer::BarcodeSettings bar;
  std::atomic<bool> emsrDetected{false}, emsrPresent{false}, scDetected{false}, scPresent{false};
  std::atomic<int> scanTimeout{10};

  // The receive side: bytes (plain mode) or whole replies (protocol mode) not yet taken, and
  // one cache per channel. Guarded by receiveLock; `received` is signalled on every change.
  std::mutex receiveLock;
  std::condition_variable received;
  foundation::Bytes readBuffer;
  bool oversizeReply = false;
  std::array<foundation::Bytes, printer::kChannelCount> rcache;

  std::atomic<bool> packetmode{false};
  std::atomic<bool> cached{true};
  foundation::Bytes cache;
  foundation::MonoTime cacheTime{};
  // The first failure of a flush nobody waited for, until it is reported (see flushOrNote).
  std::mutex lostLock;
  std::optional<Error> lostPrintData;
  std::atomic<uint8_t> laststatus{0};

  std::atomic<int> pageorientation{0};
  std::atomic<bool> pageRotateCoords{false};
  std::atomic<int> labelHeight{0};

  std::atomic<int> connectionType{0};
  std::atomic<int> connstate{0};
  std::mutex connStateMutex;

  bool linked() const { return eaStreamConnected || commStreamConnected; }

  // Errors: made, logged and stored when there is a place for them. Always false.
  static bool fail(Error* error, int code, const std::string& text);
  static std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
  // Pauses the calling thread for `d` of the `Clock`.
  static void pause(foundation::Duration d);
  static foundation::Duration seconds(double s) {
    return std::chrono::duration_cast<foundation::Duration>(std::chrono::duration<double>(s));
  }

  // Waits until `count` bytes are held, `timeout` passes or the link goes; the smaller of
  // the bytes held and `count`.
  int commWaitData(int count, foundation::Duration timeout);
  void clearReadBuffer();
  bool transportWrite(const uint8_t* data, size_t length);

  // The command layer (Printer.cpp).
  int sendCommandRaw(int channel, int op, const uint8_t* data, size_t length,
                     foundation::Bytes* out, foundation::Duration timeout, Error* error);
  int sendCommandCached(int channel, int op, const uint8_t* data, size_t length,
                        foundation::Bytes* out, foundation::Duration timeout, Error* error);
  bool cacheData(const uint8_t* data, size_t length);
  // With cmdLock held (or from inside a command).
  bool flushLocked(Error* error);
  // Takes cmdLock and flushes; the body of `flushCache` without the lost-data report.
  bool flushNow(Error* error);
  // A flush that no caller waits for (the write thread's, one at overflow, disconnect, the
  // end of a transaction): a failure is kept, not dropped, for the next caller who asks for
  // the printer to be current.
  void flushOrNote();
  void noteLostPrintData(const Error& e);
  // False, with the kept failure (then forgotten), when print data was lost since the last
  // report; true otherwise.
  bool takeLostPrintData(Error* error);
  // An empty write on the print channel whose reply refreshes `laststatus`.
  bool statusPoll(Error* error);
  void initVariables(Printer& p);

  KXPrinterInfo infoCopy() const {
    std::lock_guard<std::mutex> lock(infoMutex);
    return info;
  }
};

}  // namespace kestra
