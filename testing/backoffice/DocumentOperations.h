#pragma once
// The back office's line sheets and order attachments:
// - "CreateLineSheetPdf" makes the line sheet of a saved SO in its "default" or "detail"
//   form as "pdf/LINESHEET-<FORM><SO>.pdf" and answers its file name under the key
//   "LINESHEET-<FORM><SO>";
// - "SendLineSheetEmail" records the e-mail on the SO (refused without an address);
// - a server print of a line sheet ("PrintSObyServer" with a line-sheet file name) is
//   recorded on its SO;
// - the attachments an SO's e-mail carries are the files kept for it below "SOimgZip/"
//   (archives named "SO<n>...") and "resizeImages/SO<n>/" (pictures).

#include <optional>
#include <string>
#include <vector>

#include "testing/backoffice/Operations.h"

namespace backoffice {

std::vector<Operation> documentOperations();

// The answer to a server print of a line sheet; nothing when `c` does not name one.
std::optional<Answer> printLineSheet(const Call& c, State& s);

// The extra attachment file names of SO `number`, in name order.
nlohmann::json orderAttachmentNames(const State& s, const std::string& number);

}  // namespace backoffice
