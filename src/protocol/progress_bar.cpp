// SPDX-License-Identifier: Apache-2.0
#include "protocol/progress_bar.h"

namespace wct {
namespace {

TProgressBarFactory& Factory() {
    static TProgressBarFactory factory;
    return factory;
}

}  // namespace

void SetProgressBarFactory(TProgressBarFactory factory) {
    Factory() = std::move(factory);
}

std::unique_ptr<TMiraProgressBar> CreateProgressBar() {
    if (Factory()) return Factory()();
    return std::make_unique<TPlainProgressBar>();
}

}  // namespace wct
