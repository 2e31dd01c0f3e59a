#pragma once
// The pick record: the customer being picked for. Created at launch with the other
// records and kept for the life of the process. Main thread only.

#include <string>

namespace orvo {

struct GlobalPick {
  std::string customerID;

  void initVar() { customerID.clear(); }
};

}  // namespace orvo
