#pragma once

#include <string>
#include <string_view>

// The rule for a stream URL a user types, pastes, drops or gives the
// recorder: blanks around it go, a URL without a scheme is taken as
// http://, and only an http or https URL that names a server is accepted.
// The window's Add Server dialog and the recorder both apply it, so both
// add exactly what the other would.
//
// Stateless; any thread.
class StreamUrl {
 public:
  enum class Problem { None, Empty, NotHttp, NoHost };

  // The URL as it is to be recorded goes to url when the text is accepted
  // (Problem::None); otherwise url is left as it was.
  static Problem Normalize(std::string_view text, std::string& url);

  // Why text was refused, in one line for the console ("\"ftp://x/\" is not
  // an http or https URL").
  static std::string Describe(Problem problem, std::string_view text);
};
