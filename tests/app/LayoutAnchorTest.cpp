#include "app/LayoutAnchor.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <vector>

void PrintTo(const AnchorRect& rect, std::ostream* out) {
  *out << "{" << rect.x << ", " << rect.y << ", " << rect.width << ", " << rect.height << "}";
}

namespace {

// Controls are plain rectangles with a one-pixel border on each side; every
// placement is logged.
struct MemoryAnchorView : AnchorView {
  AnchorSize ClientSize() const override { return client; }
  std::optional<AnchorRect> ControlRect(AnchorControlId control) const override {
    const auto found = rects.find(control);
    return found == rects.end() ? std::nullopt : std::optional(found->second);
  }
  int ControlClientWidth(AnchorControlId control) const override { return rects.at(control).width - 2; }
  void PlaceControl(AnchorControlId control, const AnchorRect& rect) override {
    rects.at(control) = rect;
    placed.push_back(control);
  }
  void SetScrollSize(AnchorSize size) override { scrollSize = size; }

  AnchorSize client{600, 400};
  std::map<AnchorControlId, AnchorRect> rects;
  std::vector<AnchorControlId> placed;
  std::optional<AnchorSize> scrollSize;
};

AnchorRect Moved(AnchorRect rect, int dx, int dy, int dw, int dh) {
  return {rect.x + dx, rect.y + dy, rect.width + dw, rect.height + dh};
}

class LayoutAnchorTest : public ::testing::Test {
 protected:
  void Register(AnchorControlId control, AnchorRect rect, int mode) {
    view.rects[control] = rect;
    ASSERT_TRUE(anchor.AddControl(&view, control, static_cast<AnchorMode>(mode)));
  }
  void Resize(int width, int height) {
    view.client = {width, height};
    anchor.Relayout();
  }

  MemoryAnchorView view;
  LayoutAnchor anchor;
};

// The main form's eight controls with the modes the main window gives them.
TEST_F(LayoutAnchorTest, GrowingTheFormBy100x50MovesEachControlByItsRule) {
  const std::map<AnchorControlId, std::pair<AnchorRect, int>> form = {
      {1001, {{10, 10, 580, 300}, 5}},  {1012, {{10, 315, 580, 15}, 1}}, {1006, {{10, 340, 120, 20}, 2}},
      {1007, {{140, 340, 120, 20}, 2}}, {1009, {{510, 365, 80, 25}, 0}}, {1008, {{100, 365, 400, 25}, 1}},
      {1010, {{5, 335, 590, 60}, 1}},   {1011, {{10, 370, 85, 20}, 2}}};
  anchor.Init(&view, {640, 480});
  for (const auto& [control, entry] : form) {
    Register(control, entry.first, entry.second);
  }
  Resize(700, 450);
  const auto before = [&](AnchorControlId control) { return form.at(control).first; };
  EXPECT_EQ(view.rects[1001], Moved(before(1001), 0, 0, 100, 50));
  EXPECT_EQ(view.rects[1009], Moved(before(1009), 100, 50, 0, 0));
  for (AnchorControlId control : {1008, 1012, 1010}) {
    EXPECT_EQ(view.rects[control], Moved(before(control), 0, 50, 100, 0)) << control;
  }
  for (AnchorControlId control : {1006, 1007, 1011}) {
    EXPECT_EQ(view.rects[control], Moved(before(control), 0, 50, 0, 0)) << control;
  }
  EXPECT_EQ(view.placed.size(), 8u);
  EXPECT_EQ(view.scrollSize, (AnchorSize{700, 450}));
}

TEST_F(LayoutAnchorTest, FrameIsHeldAtItsFirstSizeInEachDimensionAndNothingActsBeforeInit) {
  Register(1, {10, 10, 100, 100}, 5);  // registering works before Init
  Resize(900, 900);
  EXPECT_TRUE(view.placed.empty());
  EXPECT_FALSE(view.scrollSize.has_value());
  EXPECT_EQ(anchor.EnforceMinimumSize({10, 10}), (AnchorSize{10, 10}));

  anchor.Init(&view, {640, 480});
  anchor.Init(&view, {1000, 1000});  // a second Init changes nothing
  EXPECT_EQ(anchor.EnforceMinimumSize({500, 600}), (AnchorSize{640, 600}));
  EXPECT_EQ(anchor.EnforceMinimumSize({700, 300}), (AnchorSize{700, 480}));
  EXPECT_EQ(anchor.EnforceMinimumSize({800, 900}), (AnchorSize{800, 900}));
}

TEST_F(LayoutAnchorTest, AddControlRefusesDuplicatesUnknownControlsAndNoView) {
  Register(1, {10, 20, 30, 40}, 6);
  view.rects[1] = {0, 0, 5, 5};
  EXPECT_FALSE(anchor.AddControl(&view, 1, AnchorMode::StretchBoth));
  EXPECT_FALSE(anchor.AddControl(&view, 77, AnchorMode::StretchBoth));
  EXPECT_FALSE(anchor.AddControl(nullptr, 2, AnchorMode::StretchBoth));
  const AnchorRecord* record = anchor.FindControl(1);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->mode, AnchorMode::TopRight);
  EXPECT_EQ(record->right, 600 - 40);
  EXPECT_EQ(record->bottom, 400 - 60);
  EXPECT_EQ(anchor.FindControl(77), nullptr);
}

TEST_F(LayoutAnchorTest, EachModeKeepsItsEdgesAndUnknownModesNeverMove) {
  anchor.Init(&view, {640, 480});
  const AnchorRect start{20, 30, 50, 300};
  for (int mode : {-1, 2, 3, 4, 6, 7, 10}) {
    Register(mode, start, mode);
  }
  Resize(700, 460);
  EXPECT_EQ(view.rects[2], Moved(start, 0, 60, 0, 0));
  EXPECT_EQ(view.rects[4], view.rects[2]);
  EXPECT_EQ(view.rects[3], Moved(start, 0, 0, 0, 60));
  EXPECT_EQ(view.rects[6], Moved(start, 100, 0, 0, 0));
  EXPECT_EQ(view.rects[7], Moved(start, 100, 0, 0, 60));
  EXPECT_EQ(view.rects[-1], start);
  EXPECT_EQ(view.rects[10], start);
  EXPECT_EQ(view.placed, (std::vector<AnchorControlId>{2, 3, 4, 6, 7}));

  // Squeezed below its margins a control collapses instead of going negative.
  Register(5, {10, 10, 580, 380}, 5);
  Resize(15, 12);
  EXPECT_EQ(view.rects[5], (AnchorRect{10, 10, 0, 0}));
}

// The scaled width starts from the control's client width, its border not
// counted: a doubled view gives twice the client width, not the outer one.
TEST_F(LayoutAnchorTest, ScaledModesScaleFromTheRegisteredClientWidth) {
  view.client = {300, 200};
  anchor.Init(&view, {340, 260});
  Register(8, {30, 10, 100, 150}, 8);
  Register(9, {30, 10, 100, 150}, 9);
  Resize(600, 220);
  EXPECT_EQ(view.rects[8], (AnchorRect{30, 10, 196, 170}));
  EXPECT_EQ(view.rects[9], (AnchorRect{60, 10, 196, 170}));
  Resize(400, 200);  // 98 × 4/3 = 130.67, truncated
  EXPECT_EQ(view.rects[8].width, 130);
  EXPECT_EQ(view.rects[9].x, 40);
}

TEST(LayoutAnchorScaling, ScaledModeOnAViewThatHadNoWidthKeepsItsWidth) {
  MemoryAnchorView view;
  view.client = {0, 200};
  view.rects[9] = {30, 10, 100, 150};
  LayoutAnchor anchor;
  anchor.Init(&view, {40, 260});
  ASSERT_TRUE(anchor.AddControl(&view, 9, AnchorMode::ScaledLeftAndWidth));
  view.client = {600, 200};
  anchor.Relayout();
  EXPECT_EQ(view.rects[9], (AnchorRect{30, 10, 98, 150}));
}

}  // namespace
