#include "net/StreamUrl.h"

#include <new>

#include "net/CurlHandles.h"
#include "text/ByteText.h"

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "file:/music" and "mailto:x" name a scheme of their own; "radio.example:8000/live"
// and "host:8000" are a host and port with the scheme left out.
bool NamesOtherScheme(std::string_view text) {
  if (text.empty() || !IsAsciiLetter(text[0])) {
    return false;
  }
  for (size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':') {
      return i + 1 >= text.size() || !IsDigit(text[i + 1]);
    }
    if (!IsAsciiLetter(c) && !IsDigit(c) && c != '+' && c != '.' && c != '-') {
      return false;
    }
  }
  return false;
}

// One part of a parsed URL; "" when it has none.
std::string Part(CURLU* handle, CURLUPart which) {
  char* raw = nullptr;
  if (curl_url_get(handle, which, &raw, 0) != CURLUE_OK || raw == nullptr) {
    return {};
  }
  const CurlText text(raw);
  return text.get();
}

}  // namespace

StreamUrl::Problem StreamUrl::Normalize(std::string_view text, std::string& url) {
  std::string candidate(ByteText::Trim(text));
  if (candidate.empty()) {
    return Problem::Empty;
  }
  if (candidate.find("://") == std::string::npos && !NamesOtherScheme(candidate)) {
    candidate.insert(0, "http://");
  }
  const std::string_view scheme = std::string_view(candidate).substr(0, candidate.find(':'));
  if (!ByteText::EqualsNoCase(scheme, "http") && !ByteText::EqualsNoCase(scheme, "https")) {
    return Problem::NotHttp;
  }
  // libcurl reads "http:///stream" as the server "stream"; a user who wrote
  // it left the server out.
  const size_t separator = candidate.find("://");
  if (separator == std::string::npos) {
    return Problem::NotHttp;  // "http:radio.example"
  }
  const size_t authority = separator + 3;
  if (authority >= candidate.size() || candidate[authority] == '/') {
    return Problem::NoHost;
  }
  const CurlUrl handle(curl_url());
  if (!handle) {
    throw std::bad_alloc();
  }
  const CURLUcode parsed = curl_url_set(handle.get(), CURLUPART_URL, candidate.c_str(), 0);
  if (parsed == CURLUE_NO_HOST || (parsed == CURLUE_OK && Part(handle.get(), CURLUPART_HOST).empty())) {
    return Problem::NoHost;
  }
  if (parsed != CURLUE_OK) {
    return Problem::NotHttp;  // malformed: no URL at all
  }
  url = std::move(candidate);
  return Problem::None;
}

std::string StreamUrl::Describe(Problem problem, std::string_view text) {
  const std::string quoted = "\"" + std::string(ByteText::Trim(text)) + "\"";
  switch (problem) {
    case Problem::None:
      return {};
    case Problem::Empty:
      return "an empty URL";
    case Problem::NotHttp:
      return quoted + " is not an http or https URL";
    case Problem::NoHost:
      return quoted + " names no server";
  }
  return {};
}
