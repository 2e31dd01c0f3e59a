// The sleeve's unsolicited events: barcodes, scan buttons, magnetic cards, UHF tags and
// debug text, turned into delegate calls on the main queue. Encrypted-head, EMV kernel and
// contactless-pass events go on to PellanSecureEvents.cpp.

#include "platform/foundation/MainQueue.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"
#include "sdk/sleeve/PellanModels.h"

namespace kestra {

namespace {

void wipe(Bytes& b) { foundation::secureClear(b); }

void wipe(KXTrackDictionary& tracks) {
  for (auto& [key, text] : tracks.texts) foundation::secureClear(text);
  for (auto& [key, bytes] : tracks.bytes) foundation::secureClear(bytes);
}

}  // namespace

void Pellan::processData(Bytes r) {
  d_->transport.touchLastCommandTime();
  bool keep = false;
  try {
    // A record without its two status bytes carries nothing to deliver.
    if (r.size() >= 4) {
      const int channel = r[0];
      const uint8_t code = r[1];
      const int st1 = r[2], st2 = r[3];
      const uint8_t* p = r.data() + 4;
      const size_t n = r.size() - 4;

      if (channel == 0 && (code == 0x47 || code == 0x49)) {
        KXUNISDKGlobals::LOG("PN:WAAA (%zu bytes)", n);
        processVASEvent(code, p, n);
      } else if (channel == 0 && code == 0x25) {
        if (n >= 1 && p[0] == 1) {
          const std::string text(reinterpret_cast<const char*>(p + 1), n - 1);
          KXUNISDKGlobals::LOG("PN:Pellan: %s", text.c_str());
          d_->fanOut(sel::kxdev_debug, [&](PellanDelegate& del) { del.kxdev_debug(text, 0); });
        } else if (n >= 1 && p[0] == 2) {
          KXUNISDKGlobals::LOG("PN:Pellan: %zu bytes of debug data", n - 1);
        }
      } else if (channel == 0 && code == 0x05) {
        KXUNISDKGlobals::LOG("PN:processData: cmd_scanner_cs_scannedData received");
        const Bytes barcode(p, p + n);
        const int called = d_->fanOut(
            sel::kxdev_barcodeData, [&](PellanDelegate& del) { del.kxdev_barcodeData(barcode); });
        if (called == 0) {
          std::vector<std::weak_ptr<KXBarcodeDelegate>> list;
          for (const auto& del : delegates()) list.push_back(del);
          KXUNISDKGlobals::notifyBarcode(list, barcode, d_->barcodeTypeMode, d_->barScanMode,
                                         d_->feature(1), true);
        }
      } else if (channel == 0 && code == 0x06) {
        const int state = n >= 1 ? p[0] : 0;
        KXUNISDKGlobals::LOG(
            "PN:processData: cmd_scanner_cs_scanButtonState received, st1:%d, st2:%d, state:%d",
            st1, st2, state);
        if (n >= 1) {
          if (d_->fwVer > 5054) {
            const int button = state >> 1;
            if (state & 1) {
              KXUNISDKGlobals::filterBarcodeReset();
              d_->fanOut(sel::pellanButtonPressed,
                         [&](PellanDelegate& del) { del.pellanButtonPressed(button); });
            } else {
              d_->fanOut(sel::pellanButtonReleased,
                         [&](PellanDelegate& del) { del.pellanButtonReleased(button); });
            }
          } else {
            const int old = d_->buttonState;
            for (int i = 0; i < 8; ++i) {
              const bool was = old & (1 << i), is = state & (1 << i);
              if (!was && is) {
                KXUNISDKGlobals::filterBarcodeReset();
                d_->fanOut(sel::pellanButtonPressed,
                           [&](PellanDelegate& del) { del.pellanButtonPressed(i); });
              } else if (was && !is) {
                d_->fanOut(sel::pellanButtonReleased,
                           [&](PellanDelegate& del) { del.pellanButtonReleased(i); });
              }
            }
          }
          d_->buttonState = state;
        }
      } else if (code == 0x02) {
        KXUNISDKGlobals::LOG("PN:processData: cmd_scanner_cs_scannedMSRData received, st1:%d, st2:%d",
                             st1, st2);
        if (n == 3 && p[0] == 0x00 && p[1] == 0x02) {
          const Bytes signal(p, p + 3);
          d_->fanOut(sel::kxdev_magneticPassbookData,
                     [&](PellanDelegate& del) { del.kxdev_magneticPassbookData(signal); });
          keep = true;
        } else {
          const bool reverse = pellan::nameHasPrefix(d_->name(), pellan::kReverseTrackModel) &&
                               d_->fwVer < pellan::kReverseTrackBelowFirmware;
          KXTrackDictionary tracks = KXUNISDKGlobals::msExtractTracks(p, int(n), reverse);
          auto text = [&](const char* key) -> std::optional<std::string> {
            auto it = tracks.texts.find(key);
            if (it == tracks.texts.end()) return std::nullopt;
            return it->second;
          };
          if (auto f2f = text(trackkey::trackF2F)) {
            d_->fanOut(sel::magneticF2FCardData,
                       [&](PellanDelegate& del) { del.magneticF2FCardData(*f2f); });
            foundation::secureClear(*f2f);
          } else if (auto jis = text(trackkey::trackJIS)) {
            d_->fanOut(sel::magneticJISCardData,
                       [&](PellanDelegate& del) { del.magneticJISCardData(*jis); });
            foundation::secureClear(*jis);
          } else if (tracks.bytes.count(trackkey::trackPassBook)) {
            const Bytes& v = tracks.bytes[trackkey::trackPassBook];
            d_->fanOut(sel::kxdev_magneticPassbookData,
                       [&](PellanDelegate& del) { del.kxdev_magneticPassbookData(v); });
          } else if (tracks.bytes.count(trackkey::trackCTDOT)) {
            const Bytes& v = tracks.bytes[trackkey::trackCTDOT];
            d_->fanOut(sel::kxdev_magneticCTDOTData,
                       [&](PellanDelegate& del) { del.kxdev_magneticCTDOTData(v); });
          } else {
            auto t1 = text(trackkey::track1), t2 = text(trackkey::track2),
                 t3 = text(trackkey::track3);
            d_->fanOut(sel::magneticCardData,
                       [&](PellanDelegate& del) { del.magneticCardData(t1, t2, t3); });
            for (auto* t : {&t1, &t2, &t3})
              if (*t) foundation::secureClear(**t);
          }
          wipe(tracks);
        }
      } else if (channel == 1 && code == 0x03) {
        KXUNISDKGlobals::LOG(
            "PN:processData: cmd_scanner_cs_scannedMSRRAWData received, st1:%d, st2:%d", st1, st2);
        Bytes raw(p, p + n);
        d_->fanOut(sel::magneticCardRawData,
                   [&](PellanDelegate& del) { del.magneticCardRawData(raw); });
        wipe(raw);
      } else if (channel == 1 && code == 0x05) {
        KXUNISDKGlobals::LOG(
            "PN:processData: cmd_scanner_cs_encryptedMSRData received, st1:%d, st2:%d", st1, st2);
        processEncryptedHeadEvent(p, n);
      } else if (channel == 0 && code == 0x45) {
        KXUNISDKGlobals::LOG("PN:processData: cmd_scanner_cs_uhf_event received, st1:%d, st2:%d",
                             st1, st2);
        if (n >= 3 && p[0] == 0x22) {
          const int pc = foundation::readBE16(p + 1);
          const Bytes epc(p + 3, p + n);
          d_->fanOut(sel::kxdev_uhfCard, [&](PellanDelegate& del) { del.kxdev_uhfCard(pc, epc); });
        }
      } else if (channel == 0 && code == 0x38) {
        KXUNISDKGlobals::LOG("PN:processData: cmd_scanner_cs_emv_data received, st1:%d, st2:%d",
                             st1, st2);
        processEMVEvent(p, n);
      }
    }
  } catch (const std::exception& e) {
    KXUNISDKGlobals::LOG("PN:ERR: %s - %s", "exception", e.what());
  } catch (...) {
    KXUNISDKGlobals::LOG("PN:ERR: %s - %s", "exception", "unknown");
  }
  if (!keep) wipe(r);
}

}  // namespace kestra
