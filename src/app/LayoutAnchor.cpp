#include "app/LayoutAnchor.h"

#include <algorithm>
#include <climits>

namespace {

// value × current / registered, the ratio taken in double precision and the
// product truncated toward zero. A view that had no width at registration
// gives no ratio to scale by; the value then stays as registered.
int Scale(int value, int current, int registered) {
  if (registered <= 0) {
    return value;
  }
  const double scaled = static_cast<double>(current) / registered * value;
  return static_cast<int>(std::clamp(scaled, static_cast<double>(INT_MIN),
                                     static_cast<double>(INT_MAX)));
}

}  // namespace

void LayoutAnchor::Init(AnchorView* formView, AnchorSize frameSize) {
  if (initialized) {
    return;
  }
  view = formView;
  minimumSize = frameSize;
  initialized = true;
}

bool LayoutAnchor::AddControl(AnchorView* controlView, AnchorControlId control, AnchorMode mode) {
  if (controlView == nullptr || records.contains(control)) {
    return false;
  }
  const std::optional<AnchorRect> rect = controlView->ControlRect(control);
  if (!rect) {
    return false;
  }
  AnchorRecord record;
  record.control = control;
  record.view = controlView;
  record.mode = mode;
  record.viewClientSize = controlView->ClientSize();
  record.clientWidth = controlView->ControlClientWidth(control);
  record.left = rect->x;
  record.top = rect->y;
  record.right = record.viewClientSize.width - (rect->x + rect->width);
  record.bottom = record.viewClientSize.height - (rect->y + rect->height);
  records.emplace(control, record);
  return true;
}

const AnchorRecord* LayoutAnchor::FindControl(AnchorControlId control) const {
  const auto found = records.find(control);
  return found == records.end() ? nullptr : &found->second;
}

AnchorSize LayoutAnchor::EnforceMinimumSize(AnchorSize pending) const {
  if (initialized) {
    pending.width = std::max(pending.width, minimumSize.width);
    pending.height = std::max(pending.height, minimumSize.height);
  }
  return pending;
}

void LayoutAnchor::Relayout() {
  if (!initialized) {
    return;
  }
  if (view != nullptr) {
    view->SetScrollSize(view->ClientSize());
  }
  for (const auto& [control, record] : records) {
    PlaceControl(record);
  }
}

void LayoutAnchor::PlaceControl(const AnchorRecord& record) {
  const int mode = static_cast<int>(record.mode);
  if (mode < 0 || mode > 9) {
    return;
  }
  const std::optional<AnchorRect> current = record.view->ControlRect(record.control);
  if (!current) {
    return;
  }
  const AnchorSize client = record.view->ClientSize();
  const int cw = client.width;
  const int ch = client.height;
  const int w = current->width;
  const int h = current->height;
  const int cw0 = record.viewClientSize.width;
  const int wc0 = record.clientWidth;
  const int l = record.left;
  const int t = record.top;
  const int r = record.right;
  const int b = record.bottom;

  AnchorRect placed;
  switch (record.mode) {
    case AnchorMode::BottomRight:
      placed = {cw - r - w, ch - b - h, w, h};
      break;
    case AnchorMode::BottomStretchWidth:
      placed = {l, ch - b - h, cw - l - r, h};
      break;
    case AnchorMode::BottomLeft:
    case AnchorMode::BottomLeftAlias:
      placed = {l, ch - b - h, w, h};
      break;
    case AnchorMode::LeftStretchHeight:
      placed = {l, t, w, ch - t - b};
      break;
    case AnchorMode::StretchBoth:
      placed = {l, t, cw - l - r, ch - t - b};
      break;
    case AnchorMode::TopRight:
      placed = {cw - r - w, t, w, h};
      break;
    case AnchorMode::RightStretchHeight:
      placed = {cw - r - w, t, w, ch - t - b};
      break;
    case AnchorMode::ScaledWidth:
      placed = {l, t, Scale(wc0, cw, cw0), ch - t - b};
      break;
    case AnchorMode::ScaledLeftAndWidth:
      placed = {Scale(l, cw, cw0), t, Scale(wc0, cw, cw0), ch - t - b};
      break;
  }
  // A view squeezed below the margins would ask for a negative size, which
  // no window system can show; the control collapses to nothing instead.
  placed.width = std::max(placed.width, 0);
  placed.height = std::max(placed.height, 0);
  record.view->PlaceControl(record.control, placed);
}
