#include "table/IndexBuildProgress.h"

namespace vz {

IndexBuildProgress::IndexBuildProgress(const std::string& caption)
    : window_(platform::CreateStatusWindow(caption)), text_(100, '|') {
  if (window_) window_->ShowMessage(text_);
}

void IndexBuildProgress::Step() {
  if (!text_.empty()) text_.erase(0, 1);
  if (window_) window_->ShowMessage(text_);
}

}  // namespace vz
