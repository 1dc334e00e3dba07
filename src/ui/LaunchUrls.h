#pragma once

#include <string>
#include <vector>

// The words of the window program's command line (after its options) as
// the stream URLs to record: a local playlist file (.pls, .m3u, .xspf ...,
// given as a path relative to the working directory, an absolute path or a
// file:// URL, as a file manager passes it) stands for the http and https
// streams it names; every other word is taken as it is, trimmed; blank
// words are dropped. Done by the process that was started, so that a
// relative path means the directory it was started in even when the URLs
// go on to a window that is open already (WindowHandover).
//
// Stateless; user-interface thread (ServerUrl reads the files through Qt).
class LaunchUrls {
 public:
  static std::vector<std::string> Expand(const std::vector<std::string>& words);
};
