#pragma once
// The signature pad as the order screens open it after a save: told that it signs the sales
// order. When done it posts "getSignatureForSo" with "isClear" "false" (signed) or "true"
// (cancelled). The pad itself lives with card capture; the order screens know it only by
// this interface and its screen name, "CcSignatureViewController".

namespace orvo {

class SignaturePad {
 public:
  virtual ~SignaturePad() = default;
  virtual void setSoSignFlag(bool on) = 0;
};

}  // namespace orvo
