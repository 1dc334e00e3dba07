#include "ui/LayoutAnchor.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <vector>

void PrintTo(const AnchorRect& rect, std::ostream* out) {
  *out << "{" << rect.x << ", " << rect.y << ", " << rect.width << ", " << rect.height << "}";
}

void PrintTo(const AnchorSize& size, std::ostream* out) {
  *out << size.width << " x " << size.height;
}

namespace {

// A view of plain rectangles: controls keep the geometry they were last
// placed at, and every placement is logged.
class MemoryAnchorView : public AnchorView {
 public:
  struct Control {
    AnchorRect rect;
    int clientWidth = 0;
  };

  AnchorSize ClientSize() const override { return client; }
  std::optional<AnchorRect> ControlRect(AnchorControlId control) const override {
    const auto found = controls.find(control);
    if (found == controls.end()) {
      return std::nullopt;
    }
    return found->second.rect;
  }
  int ControlClientWidth(AnchorControlId control) const override {
    return controls.at(control).clientWidth;
  }
  void PlaceControl(AnchorControlId control, const AnchorRect& rect) override {
    controls.at(control).rect = rect;
    placed.push_back(control);
  }
  void SetScrollSize(AnchorSize size) override { scrollSize = size; }

  // A control with a one-pixel border on each side.
  void Add(AnchorControlId control, AnchorRect rect) { controls[control] = {rect, rect.width - 2}; }
  AnchorRect RectOf(AnchorControlId control) const { return controls.at(control).rect; }

  AnchorSize client{600, 400};
  std::map<AnchorControlId, Control> controls;
  std::vector<AnchorControlId> placed;
  std::optional<AnchorSize> scrollSize;
};

AnchorRect Moved(AnchorRect rect, int dx, int dy, int dw, int dh) {
  return {rect.x + dx, rect.y + dy, rect.width + dw, rect.height + dh};
}

class LayoutAnchorTest : public ::testing::Test {
 protected:
  MemoryAnchorView view;
  LayoutAnchor anchor;

  void Register(AnchorControlId control, AnchorRect rect, AnchorMode mode) {
    view.Add(control, rect);
    ASSERT_TRUE(anchor.AddControl(&view, control, mode));
  }
};

// The main form's eight controls, as the main window registers them.
TEST_F(LayoutAnchorTest, GrowingTheFormBy100x50MovesEachControlByItsRule) {
  const std::map<AnchorControlId, AnchorRect> before = {
      {1001, {10, 10, 580, 300}},  {1012, {10, 315, 580, 15}}, {1006, {10, 340, 120, 20}},
      {1007, {140, 340, 120, 20}}, {1009, {510, 365, 80, 25}}, {1008, {100, 365, 400, 25}},
      {1010, {5, 335, 590, 60}},   {1011, {10, 370, 85, 20}}};
  anchor.Init(&view, {640, 480});
  Register(1001, before.at(1001), AnchorMode::StretchBoth);
  Register(1012, before.at(1012), AnchorMode::BottomStretchWidth);
  Register(1006, before.at(1006), AnchorMode::BottomLeft);
  Register(1007, before.at(1007), AnchorMode::BottomLeft);
  Register(1009, before.at(1009), AnchorMode::BottomRight);
  Register(1008, before.at(1008), AnchorMode::BottomStretchWidth);
  Register(1010, before.at(1010), AnchorMode::BottomStretchWidth);
  Register(1011, before.at(1011), AnchorMode::BottomLeft);

  view.client = {700, 450};
  anchor.Relayout();

  EXPECT_EQ(view.RectOf(1001), Moved(before.at(1001), 0, 0, 100, 50));
  EXPECT_EQ(view.RectOf(1009), Moved(before.at(1009), 100, 50, 0, 0));
  for (AnchorControlId widened : {1008, 1012, 1010}) {
    EXPECT_EQ(view.RectOf(widened), Moved(before.at(widened), 0, 50, 100, 0)) << widened;
  }
  for (AnchorControlId lowered : {1006, 1007, 1011}) {
    EXPECT_EQ(view.RectOf(lowered), Moved(before.at(lowered), 0, 50, 0, 0)) << lowered;
  }
  EXPECT_EQ(view.placed.size(), 8u);
  EXPECT_EQ(view.scrollSize, (AnchorSize{700, 450}));

  // Back to the first size: everything returns to where it was.
  view.client = {600, 400};
  anchor.Relayout();
  for (const auto& [control, rect] : before) {
    EXPECT_EQ(view.RectOf(control), rect) << control;
  }
}

TEST_F(LayoutAnchorTest, FrameIsHeldAtItsFirstSizeInEachDimensionSeparately) {
  EXPECT_EQ(anchor.EnforceMinimumSize({10, 10}), (AnchorSize{10, 10}));  // before Init
  anchor.Init(&view, {640, 480});
  anchor.Init(&view, {1000, 1000});  // a second Init changes nothing
  EXPECT_EQ(anchor.MinimumSize(), (AnchorSize{640, 480}));
  EXPECT_EQ(anchor.EnforceMinimumSize({500, 600}), (AnchorSize{640, 600}));
  EXPECT_EQ(anchor.EnforceMinimumSize({700, 300}), (AnchorSize{700, 480}));
  EXPECT_EQ(anchor.EnforceMinimumSize({-5, -5}), (AnchorSize{640, 480}));
  EXPECT_EQ(anchor.EnforceMinimumSize({800, 900}), (AnchorSize{800, 900}));
}

TEST_F(LayoutAnchorTest, RelayoutBeforeInitMovesNothing) {
  Register(1, {10, 10, 100, 100}, AnchorMode::StretchBoth);  // registering works before Init
  view.client = {900, 900};
  anchor.Relayout();
  EXPECT_TRUE(view.placed.empty());
  EXPECT_FALSE(view.scrollSize.has_value());
}

TEST_F(LayoutAnchorTest, AddControlRefusesDuplicatesUnknownControlsAndNoView) {
  Register(1, {10, 20, 30, 40}, AnchorMode::TopRight);
  view.Add(1, {0, 0, 5, 5});
  EXPECT_FALSE(anchor.AddControl(&view, 1, AnchorMode::StretchBoth));
  const AnchorRecord* record = anchor.FindControl(1);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->mode, AnchorMode::TopRight);
  EXPECT_EQ(record->left, 10);
  EXPECT_EQ(record->top, 20);
  EXPECT_EQ(record->right, 600 - 40);
  EXPECT_EQ(record->bottom, 400 - 60);

  EXPECT_FALSE(anchor.AddControl(&view, 77, AnchorMode::StretchBoth));
  EXPECT_FALSE(anchor.AddControl(nullptr, 2, AnchorMode::StretchBoth));
  EXPECT_EQ(anchor.FindControl(77), nullptr);
}

TEST_F(LayoutAnchorTest, ModeFourActsAsBottomLeftAndUnknownModesNeverMove) {
  anchor.Init(&view, {640, 480});
  const AnchorRect start{20, 300, 50, 30};
  Register(2, start, AnchorMode::BottomLeft);
  Register(4, start, AnchorMode::BottomLeftAlias);
  Register(10, start, static_cast<AnchorMode>(10));
  Register(-1, start, static_cast<AnchorMode>(-1));
  view.client = {750, 480};
  anchor.Relayout();
  EXPECT_EQ(view.RectOf(2), Moved(start, 0, 80, 0, 0));
  EXPECT_EQ(view.RectOf(4), view.RectOf(2));
  EXPECT_EQ(view.RectOf(10), start);
  EXPECT_EQ(view.RectOf(-1), start);
  EXPECT_EQ(view.placed, (std::vector<AnchorControlId>{2, 4}));
}

TEST_F(LayoutAnchorTest, RightAndHeightModesKeepTheirEdges) {
  anchor.Init(&view, {640, 480});
  Register(3, {10, 20, 50, 300}, AnchorMode::LeftStretchHeight);
  Register(6, {500, 20, 80, 30}, AnchorMode::TopRight);
  Register(7, {500, 60, 80, 300}, AnchorMode::RightStretchHeight);
  view.client = {700, 460};
  anchor.Relayout();
  EXPECT_EQ(view.RectOf(3), (AnchorRect{10, 20, 50, 360}));
  EXPECT_EQ(view.RectOf(6), (AnchorRect{600, 20, 80, 30}));
  EXPECT_EQ(view.RectOf(7), (AnchorRect{600, 60, 80, 360}));
}

// The scaled width starts from the control's client width, its border not
// counted, so a doubled view gives twice the client width, not the outer one.
TEST_F(LayoutAnchorTest, ScaledModesScaleFromTheRegisteredClientWidth) {
  view.client = {300, 200};
  anchor.Init(&view, {340, 260});
  Register(8, {30, 10, 100, 150}, AnchorMode::ScaledWidth);
  Register(9, {30, 10, 100, 150}, AnchorMode::ScaledLeftAndWidth);
  view.client = {600, 220};
  anchor.Relayout();
  EXPECT_EQ(view.RectOf(8), (AnchorRect{30, 10, 196, 170}));
  EXPECT_EQ(view.RectOf(9), (AnchorRect{60, 10, 196, 170}));

  view.client = {400, 200};  // ratio 4/3, truncated
  anchor.Relayout();
  EXPECT_EQ(view.RectOf(8).width, 130);  // 98 × 4 / 3 = 130.67
  EXPECT_EQ(view.RectOf(9).x, 40);
}

TEST_F(LayoutAnchorTest, ScaledModesOnAViewThatHadNoWidthKeepTheirWidth) {
  view.client = {0, 200};
  anchor.Init(&view, {40, 260});
  Register(8, {30, 10, 100, 150}, AnchorMode::ScaledLeftAndWidth);
  view.client = {600, 200};
  anchor.Relayout();
  EXPECT_EQ(view.RectOf(8), (AnchorRect{30, 10, 98, 150}));
}

TEST_F(LayoutAnchorTest, ViewSmallerThanTheMarginsGivesAnEmptyControlNotANegativeOne) {
  anchor.Init(&view, {640, 480});
  Register(5, {10, 10, 580, 380}, AnchorMode::StretchBoth);
  view.client = {15, 12};
  anchor.Relayout();
  EXPECT_EQ(view.RectOf(5), (AnchorRect{10, 10, 0, 0}));
}

}  // namespace
