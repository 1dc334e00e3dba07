#pragma once

#include <string>
#include <string_view>

// Reading a Content-Type header value ("Audio/MPEG; charset=x").
//
// Stateless; any thread.
class ContentType {
 public:
  // The media type alone: lower case, without parameters and without the
  // blanks around it ("audio/mpeg").
  static std::string MediaType(std::string_view value);
};
