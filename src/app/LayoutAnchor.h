#pragma once

#include <cstdint>
#include <map>
#include <optional>

// Keeps the main form's controls in place while the main window is resized.
// Each registered control remembers where it sat relative to the edges of
// its view's client area and is placed again after every move or resize by
// its AnchorMode. The anchor also remembers the window's size at Init as the
// smallest size the window may take, and keeps the view's scroll area equal
// to its client size so that the form never shows scroll bars.
//
// Plain geometry, no window system: the view is reached through AnchorView,
// which the window layer implements over its widgets; controls are named by
// opaque ids that only the AnchorView understands (the form's control ids).
// A Qt main window calls Init once the form is laid out, AddControl per
// control, then Relayout from its resize (and move) events; it can hand
// MinimumSize() to setMinimumSize, or pass a pending size through
// EnforceMinimumSize.
//
// Ownership: the records are owned. The AnchorViews are not owned and must
// outlive the anchor; none may be null in a record.
//
// Threads: user-interface thread only; no locks.

// All rectangles are in the view's client coordinates, x/y the top-left
// corner.
struct AnchorRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool operator==(const AnchorRect&) const = default;
};

struct AnchorSize {
  int width = 0;
  int height = 0;

  bool operator==(const AnchorSize&) const = default;
};

// How a control follows its view. L, T are the control's left and top
// edges at registration; R, B the distances from its right and bottom edges
// to the right and bottom of the view's client area.
enum class AnchorMode : int32_t {
  BottomRight = 0,          // keeps its size, R and B
  BottomStretchWidth = 1,   // keeps L, R, B and its height
  BottomLeft = 2,           // keeps L, B and its size
  LeftStretchHeight = 3,    // keeps L, T, B and its width
  BottomLeftAlias = 4,      // exactly as BottomLeft
  StretchBoth = 5,          // keeps L, T, R and B
  TopRight = 6,             // keeps R, T and its size
  RightStretchHeight = 7,   // keeps R, T, B and its width
  ScaledWidth = 8,          // keeps L, T, B; width scales with the view
  ScaledLeftAndWidth = 9,   // left and width scale with the view; keeps T, B
};

using AnchorControlId = int;

// The view the controls sit on, as the anchor sees it.
class AnchorView {
 public:
  virtual ~AnchorView() = default;

  // Size of the view's client area.
  virtual AnchorSize ClientSize() const = 0;
  // The control's outer rectangle (frame included), or nothing when the
  // view has no such control.
  virtual std::optional<AnchorRect> ControlRect(AnchorControlId control) const = 0;
  // Width of the control's client area, its frame excluded.
  virtual int ControlClientWidth(AnchorControlId control) const = 0;
  // Moves and sizes the control to rect, shows it and raises it above its
  // siblings.
  virtual void PlaceControl(AnchorControlId control, const AnchorRect& rect) = 0;
  // Makes the scrollable area size; a view that never scrolls ignores it.
  virtual void SetScrollSize(AnchorSize size) { (void)size; }
};

// What the anchor remembers of one control.
struct AnchorRecord {
  AnchorControlId control = 0;
  AnchorView* view = nullptr;  // not owned
  AnchorMode mode = AnchorMode::BottomRight;
  // Margins at registration, see AnchorMode.
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  AnchorSize viewClientSize;  // its width is the base of modes 8 and 9
  int clientWidth = 0;        // the control's client width (frame excluded)
};

class LayoutAnchor {
 public:
  LayoutAnchor() = default;
  virtual ~LayoutAnchor() = default;

  LayoutAnchor(const LayoutAnchor&) = delete;
  LayoutAnchor& operator=(const LayoutAnchor&) = delete;

  // Starts anchoring: remembers view (for the scroll area; may be null) and
  // frameSize, the main window's present outer size, as its minimum. A
  // second Init changes nothing.
  void Init(AnchorView* view, AnchorSize frameSize);
  bool IsInitialized() const { return initialized; }
  AnchorSize MinimumSize() const { return minimumSize; }

  // Registers control of view with mode, measuring its margins now. False
  // for a null view, a control the view does not have, or a control already
  // registered (the first record stays). Works before and after Init.
  bool AddControl(AnchorView* view, AnchorControlId control, AnchorMode mode);
  // The control's record, or null.
  const AnchorRecord* FindControl(AnchorControlId control) const;

  // pending raised, in each dimension separately, to the minimum size;
  // unchanged before Init.
  AnchorSize EnforceMinimumSize(AnchorSize pending) const;
  // Sets the scroll area and places every control, in control id order.
  // Nothing before Init.
  void Relayout();
  // Places one control by its record's mode; nothing for a mode outside
  // 0..9 or a control its view no longer has.
  static void PlaceControl(const AnchorRecord& record);

 private:
  AnchorView* view = nullptr;  // not owned
  AnchorSize minimumSize;
  bool initialized = false;
  std::map<AnchorControlId, AnchorRecord> records;
};
