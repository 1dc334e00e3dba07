#include "ui/WindowState.h"

#include <charconv>
#include <system_error>

#include "config/IniDocument.h"

namespace {

constexpr const char* kLeftKey = "Left";
constexpr const char* kTopKey = "Top";
constexpr const char* kWidthKey = "Width";
constexpr const char* kHeightKey = "Height";
constexpr const char* kMaximizedKey = "Maximized";
constexpr const char* kColumnWidthsKey = "ColumnWidths";
constexpr const char* kHideToTrayKey = "HideToTray";

// A window bigger than this is a corrupt file, not a screen.
constexpr int kLargestSide = 100000;

std::vector<int> ParseWidths(const std::string& text) {
  std::vector<int> widths;
  const char* at = text.data();
  const char* end = text.data() + text.size();
  while (at < end) {
    int width = 0;
    const auto [next, error] = std::from_chars(at, end, width);
    if (error != std::errc() || (next != end && *next != ',')) {
      return {};
    }
    widths.push_back(width > 0 && width <= kLargestSide ? width : 0);
    at = next == end ? end : next + 1;
  }
  return widths;
}

}  // namespace

WindowState WindowState::Read(const IniDocument& settings) {
  WindowState state;
  Rect rect;
  if (settings.GetInt(kSection, kLeftKey, rect.left) && settings.GetInt(kSection, kTopKey, rect.top) &&
      settings.GetInt(kSection, kWidthKey, rect.width) && settings.GetInt(kSection, kHeightKey, rect.height) &&
      rect.width > 0 && rect.height > 0 && rect.width <= kLargestSide && rect.height <= kLargestSide) {
    state.geometry = rect;
  }
  int32_t flag = 0;
  if (settings.GetInt(kSection, kMaximizedKey, flag)) {
    state.maximized = flag == 1;
  }
  if (settings.GetInt(kSection, kHideToTrayKey, flag)) {
    state.hideToTray = flag == 1;
  }
  std::string widths;
  if (settings.GetString(kSection, kColumnWidthsKey, widths)) {
    state.columnWidths = ParseWidths(widths);
  }
  return state;
}

void WindowState::WriteTo(IniDocument& document) const {
  document.AddSection(kSection).clear();
  if (geometry) {
    document.SetInt(kSection, kLeftKey, geometry->left);
    document.SetInt(kSection, kTopKey, geometry->top);
    document.SetInt(kSection, kWidthKey, geometry->width);
    document.SetInt(kSection, kHeightKey, geometry->height);
  }
  document.SetInt(kSection, kMaximizedKey, maximized ? 1 : 0);
  std::string widths;
  for (const int width : columnWidths) {
    widths += (widths.empty() ? "" : ",") + std::to_string(width);
  }
  document.SetString(kSection, kColumnWidthsKey, widths);
  document.SetInt(kSection, kHideToTrayKey, hideToTray ? 1 : 0);
}

bool WindowState::StoreInto(const std::string& path) const {
  IniDocument onDisk;
  try {
    if (!onDisk.Load(path)) {
      return false;
    }
  } catch (const std::system_error&) {
    return false;  // a file that breaks off while read is not written over
  }
  WriteTo(onDisk);
  return onDisk.Save(path, TextEncoding::Ansi);
}
