#include "framework/Graphics.h"

#include "framework/qt/GuiBacking.h"

namespace fw {

// Outside its paint event a Graphics draws nothing and measures 0 x 0.

void Graphics::ForeColor(Color c) {
  if (b_) b_->fore = gui::ToQColor(c);
}

Int32 Graphics::Width() const { return b_ && b_->painter ? b_->size.width() : 0; }

Int32 Graphics::Height() const { return b_ && b_->painter ? b_->size.height() : 0; }

void Graphics::FillRect(Int32 x, Int32 y, Int32 w, Int32 h) {
  if (!b_ || !b_->painter || w <= 0 || h <= 0) return;
  b_->painter->fillRect(QRect(x, y, w, h), b_->fore);
}

}  // namespace fw
