#pragma once

#include <date/date.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// "2027-03-28 01:00" or "2027-03-28 01:00:30", read as UTC.
inline date::sys_seconds At(const std::string& text) {
  int y = 0;
  unsigned mo = 0;
  unsigned d = 0;
  int h = 0;
  int mi = 0;
  int s = 0;
  const int read = std::sscanf(text.c_str(), "%d-%u-%u %d:%d:%d", &y, &mo, &d, &h, &mi, &s);
  EXPECT_GE(read, 5) << text;
  return date::sys_days{date::year{y} / date::month{mo} / date::day{d}} + std::chrono::hours{h} +
         std::chrono::minutes{mi} + std::chrono::seconds{s};
}
