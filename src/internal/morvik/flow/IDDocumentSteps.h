// What the SDK alone knows of a document type: its scan steps and the code the
// document upload sends. Hosts name the types (IDDocumentType.h) but never
// these.
#pragma once

#include <vector>

#include "morvik/flow/IDDocumentType.h"

namespace morvik {

// The fixed, ordered steps of `type`; every type ends with "Face". The same
// list on every read, so a step index means the same step on every screen.
// Call it qualified (`morvik::steps(type)`) where a local is named `steps`.
const std::vector<IDScanStep>& steps(IDDocumentType type);

// The code the document upload sends as decimal text in "documentType": 1, 2,
// 3 or 5.
int serverCode(IDDocumentType type) noexcept;

}  // namespace morvik
