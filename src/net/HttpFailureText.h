#pragma once

#include <string>
#include <string_view>

#include "net/HttpConnection.h"

// The short reasons in plain words that a ConnectionError carries: for a
// final status outside 2xx ("HTTP 404 Not Found") and for a transfer curl
// reported as failed ("connection refused", "certificate not trusted
// (self-signed certificate)"). Texts may carry bytes from the server or the
// system unescaped (see ConnectionError).
//
// Stateless; any thread.
class HttpFailureText {
 public:
  static constexpr const char* kAborted = "connection aborted";
  static constexpr const char* kNotHttpUrl = "not an http or https URL";
  static constexpr const char* kNotHttp = "the server's answer is not HTTP";
  // A reason phrase longer than this is cut: the user needs its gist, and a
  // server must not fill a tooltip with kilobytes of it.
  static constexpr size_t kMaxPhraseBytes = 100;

  // "HTTP <status> <phrase>": the phrase of statusLine as the server sent it
  // (at most kMaxPhraseBytes of it, cut at a UTF-8 boundary), else the
  // standard phrase for status where there is one. kNotHttp for a status
  // outside 100..999.
  static std::string ForStatus(long status, std::string_view statusLine);

  // HttpConnection::DescribeFailure.
  static std::string ForTransfer(const HttpConnection::TransferFailure& failure);
};
