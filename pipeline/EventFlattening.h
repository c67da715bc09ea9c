// Flattening of one SDK data event into the native block record.
#pragma once

#include "Quelto_DataAvailableEventArgs.h"
#include "SdkContract.h"

namespace Pipeline {

// Builds the record of one SDK event: each array member in turn (absent or
// zero-extent arrays give empty buffers), row-major, 16-bit states widened
// to float, then the scalars. One allocation per non-empty buffer.
Quelto_DataAvailableEventArgs CopyEventArgs(const Quelto::Common::Definitions::DataAvailableEventArgs& e);

}  // namespace Pipeline
