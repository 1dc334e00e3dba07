#include "playlist/UriResolver.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

TEST(UriResolverTest, ResolvesReferencesAsRfc3986Does) {
  // RFC 3986, 5.4.1 and 5.4.2, against its base.
  const std::pair<const char*, const char*> cases[] = {
      {"g:h", "g:h"},
      {"g", "http://a/b/c/g"},
      {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"},
      {"//g", "http://g"},
      {"?y", "http://a/b/c/d;p?y"},
      {"g?y", "http://a/b/c/g?y"},
      {"#s", "http://a/b/c/d;p?q#s"},
      {"g#s", "http://a/b/c/g#s"},
      {"g?y#s", "http://a/b/c/g?y#s"},
      {";x", "http://a/b/c/;x"},
      {"g;x", "http://a/b/c/g;x"},
      {"g;x?y#s", "http://a/b/c/g;x?y#s"},
      {"", "http://a/b/c/d;p?q"},
      {".", "http://a/b/c/"},
      {"./", "http://a/b/c/"},
      {"..", "http://a/b/"},
      {"../", "http://a/b/"},
      {"../g", "http://a/b/g"},
      {"../..", "http://a/"},
      {"../../", "http://a/"},
      {"../../g", "http://a/g"},
      {"../../../g", "http://a/g"},
      {"../../../../g", "http://a/g"},
      {"/./g", "http://a/g"},
      {"/../g", "http://a/g"},
      {"g.", "http://a/b/c/g."},
      {".g", "http://a/b/c/.g"},
      {"g..", "http://a/b/c/g.."},
      {"..g", "http://a/b/c/..g"},
      {"./../g", "http://a/b/g"},
      {"./g/.", "http://a/b/c/g/"},
      {"g/./h", "http://a/b/c/g/h"},
      {"g/../h", "http://a/b/c/h"},
      {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
      {"g;x=1/../y", "http://a/b/c/y"},
      {"g?y/./x", "http://a/b/c/g?y/./x"},
      {"g?y/../x", "http://a/b/c/g?y/../x"},
      {"g#s/./x", "http://a/b/c/g#s/./x"},
      {"g#s/../x", "http://a/b/c/g#s/../x"},
      {"http:g", "http:g"},
      {"  g  ", "http://a/b/c/g"},
  };
  for (const auto& [reference, expected] : cases) {
    EXPECT_EQ(UriResolver::Resolve("http://a/b/c/d;p?q", reference), expected) << reference;
  }
  EXPECT_EQ(UriResolver::Resolve("http://h:8000", "live.m3u8"), "http://h:8000/live.m3u8");
  EXPECT_EQ(UriResolver::Resolve("https://h/a/b.m3u8?token=1", "seg.ts"), "https://h/a/seg.ts");
  EXPECT_EQ(UriResolver::Resolve("", "relative"), "relative");

  for (const char* url : {"http://h", "HTTPS://h:443/x", "http://user@h/", "http://[::1]:8000/"}) {
    EXPECT_TRUE(UriResolver::IsHttpUrl(url)) << url;
  }
  for (const char* url : {"http:g", "http://", "http://:80/", "ftp://h/", "h/x", "mms://h/", "http://u@/"}) {
    EXPECT_FALSE(UriResolver::IsHttpUrl(url)) << url;
  }
}

}  // namespace
