#pragma once

#include <string>
#include <string_view>

// URI references as playlists write them, read by RFC 3986: a relative
// entry, segment or variant URI resolved against the URL of the playlist it
// came from, and the test that a result is a URL the program can fetch.
//
// Stateless; any thread.
class UriResolver {
 public:
  // The target URL of reference resolved against the absolute URL base
  // (RFC 3986, section 5.2: strict, with dot segments removed). Blanks around
  // either are ignored. A base without a scheme gives reference unchanged.
  static std::string Resolve(std::string_view base, std::string_view reference);

  // True for an absolute http or https URL with a host, in any letter case.
  static bool IsHttpUrl(std::string_view url);
};
