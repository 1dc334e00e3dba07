#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

// Owners of libcurl's handles: each releases its handle with the matching
// curl call when it goes. Null is allowed (and released as nothing).
//
// Plain values; a handle is used by one thread at a time, as curl asks.
struct CurlEasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlMultiDeleter {
  void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct CurlListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct CurlShareDeleter {
  void operator()(CURLSH* handle) const { curl_share_cleanup(handle); }
};
struct CurlUrlDeleter {
  void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
struct CurlTextDeleter {
  void operator()(char* text) const { curl_free(text); }
};

using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;
using CurlShare = std::unique_ptr<CURLSH, CurlShareDeleter>;
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;
using CurlText = std::unique_ptr<char, CurlTextDeleter>;

// Appends a copy of line to list; throws std::bad_alloc when curl cannot,
// leaving list as it was.
void AppendCurlLine(CurlList& list, const std::string& line);
