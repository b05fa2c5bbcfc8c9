// SPDX-License-Identifier: MIT
#include "ops/reader_operations.h"

namespace torvik::ops {

void BindOperations(app::TfrmModule& form) {
    form.set_reader(std::make_unique<ReaderOperations>(form.core));
}

}  // namespace torvik::ops
