#include "playlist/Extinf.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// One rule for plain m3u files and HLS playlists: the rows come from both.
TEST(ExtinfTest, TitleFollowsTheFirstCommaOutsideQuotesAndReadsSongAttributes) {
  struct Row {
    const char* value;  // after "#EXTINF:"
    const char* duration;
    const char* title;
  };
  const Row rows[] = {
      {"-1,Jazz Radio", "-1", "Jazz Radio"},
      {"5.96, Artist - Song \t", "5.96", "Artist - Song"},
      {"-1 tvg-name=\"a,b\" group-title=\"News\",Jazz, 128k", "-1 tvg-name=\"a,b\" group-title=\"News\"", "Jazz, 128k"},
      {"10,title=\"Song\",artist=\"Band\",url=\"song_spot=x\"", "10", "Band - Song"},
      {"10,artist=\" Band \",TITLE=\"\"", "10", "Band"},
      {"10,Title=\"Only Song\"", "10", "Only Song"},
      {"10,subtitle=\"x\" and more", "10", "subtitle=\"x\" and more"},
      {"10,title=\"never closed", "10", "never closed"},
      {"6.000,", "6.000", ""},
      {"6", "6", ""},
      {"-1 tvg-name=\"open,Station", "-1 tvg-name=\"open,Station", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Extinf::Duration(row.value), row.duration) << row.value;
    EXPECT_EQ(Extinf::Title(row.value), row.title) << row.value;
  }
}

}  // namespace
