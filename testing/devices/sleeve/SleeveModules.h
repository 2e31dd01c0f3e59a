#pragma once
// What sits behind the simulated sleeve's pass-through and update commands: its boot
// loader (F0-F3), a barcode engine (commands 22, 23, 35, 36, 51, 67), the external serial
// port (48-50) and a UHF reader (68). `SleeveProtocol` offers each host command here first.
//
// Boot loader: F0 enters it (the sleeve stays in it until a whole image was written and F3
// restarts it), F1 erases the flash (0xFF), F2 writes one page of at most `pageLimit` bytes
// at its offset, F3 restarts. The sleeve restarts through `onRestart`: as the flashed
// firmware when every page since the last erase was taken and the image has a valid
// header, else into the boot loader again.
//
// Fault knobs: refused erases and pages (a status byte), unanswered pages, a power loss
// after a number of pages (`powerLossAfterPages`: the sleeve goes off without answering
// and comes back in its boot loader when restarted), a busy engine (`engineBusyWrites`: writes answered status 9), busy
// init data, and a serial port that takes fewer bytes than it is given.
//
// Not thread-safe: the simulated sleeve calls it under its lock.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "testing/devices/sleeve/SimulatedEngines.h"

namespace devices {

class SleeveModules {
 public:
  // Offers one channel-0 command: true when it is one of these modules', with the answer
  // (nothing: no reply) and a status byte.
  bool handle(uint8_t code, const Bytes& data, std::optional<Bytes>* answer, uint8_t* status);

  // ---- Boot loader ---------------------------------------------------------------------
  bool bootLoader = false;
  Bytes flash;               // the image as written (0xFF where nothing was written)
  size_t pageLimit = 256;
  int pagesWritten = 0;      // since the last erase
  std::vector<uint32_t> pageOffsets;
  int erases = 0;
  int refuseErases = 0;      // the next erases answered status 1
  int refusePages = 0;       // the next pages answered status 1
  int unansweredPages = 0;   // the next pages not answered
  int powerLossAfterPages = -1;  // power lost after this many pages (-1: never)
  // Called (under the sleeve's lock) when the sleeve restarts; `firmware` is the version
  // text of the flashed image, or empty when it restarts into the boot loader.
  std::function<void(const std::string& firmware)> onRestart;
  // Called (under the sleeve's lock) when the power goes: the sleeve detaches and stays off
  // until it is restarted.
  std::function<void()> onPowerLoss;
  // The version of a flash image with a valid header ("major.minor"), else nothing.
  static std::optional<std::string> imageVersion(const Bytes& image);
  // A sleeve firmware file of `size` bytes (at least 0x134) for `model` at version
  // major.minor: the maker's header at 0x100 ("SABREL", the model, "Pellan Pro", the
  // version), a counting pattern before it and erased flash (0xFF) after.
  static Bytes firmwareImage(size_t size, const std::string& model, uint8_t major, uint8_t minor);

  // ---- Barcode engine --------------------------------------------------------------------
  std::unique_ptr<SimulatedEngine> engine;
  int engineBusyWrites = 0;
  int initDataBusy = 0;  // the next init-data writes answered busy
  Bytes initData = {0x01, 0x02};
  Bytes initDataWritten;
  int initDataWrites = 0;
  int engineBaudRate = 9600;
  int engineDefaultsResets = 0;

  // ---- External serial port ---------------------------------------------------------------
  bool serialOpen = false;
  uint32_t serialBaudRate = 0;
  Bytes serialWritten;       // what reached the far side
  Bytes serialToHost;        // what the far side sends
  size_t serialTakeMax = 240;  // at most this many bytes taken per write
  int serialZeroTakes = 0;   // the next writes take nothing (port full)
  size_t serialReadChunk = 64;

  // ---- UHF reader -----------------------------------------------------------------------
  std::vector<Bytes> uhfCommands;
  bool uhfOn = false;

 private:
  bool bootLoaderCommand(uint8_t code, const Bytes& data, std::optional<Bytes>* answer, uint8_t* status);
  bool pageFailed_ = false;
};

}  // namespace devices
