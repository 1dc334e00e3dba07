#include "net/HttpFailureText.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstring>

#include "text/ByteText.h"

namespace {

// A standard reason phrase for the codes a radio server is likely to send;
// empty for the rest.
std::string_view StandardPhrase(long status) {
  switch (status) {
    case 300: return "Multiple Choices";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 402: return "Payment Required";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 406: return "Not Acceptable";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 429: return "Too Many Requests";
    case 451: return "Unavailable For Legal Reasons";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    case 505: return "HTTP Version Not Supported";
    default: return {};
  }
}

// The blanks a status line or curl's error text may end with.
constexpr std::string_view kLineBlanks = " \t\r\n";

// The reason phrase of a status line as the server sent it ("Not Found" in
// "HTTP/1.1 404 Not Found"), at most kMaxPhraseBytes of it; empty when
// there is none.
std::string_view ReasonPhrase(std::string_view statusLine) {
  size_t code = statusLine.find(' ');
  if (code == std::string_view::npos) {
    return {};
  }
  code = statusLine.find_first_not_of(' ', code);
  if (code == std::string_view::npos || statusLine.size() - code <= 3) {
    return {};
  }
  const std::string_view phrase = ByteText::TrimStart(statusLine.substr(code + 3), " \t");
  const std::string_view whole = ByteText::TrimEnd(phrase, kLineBlanks);
  // Cut before a UTF-8 character rather than through it.
  return ByteText::TrimEnd(ByteText::CutAtUtf8Boundary(whole, HttpFailureText::kMaxPhraseBytes), kLineBlanks);
}

// strerror_r comes in two shapes; whichever this C library has, these
// overloads turn its result into the text.
[[maybe_unused]] const char* ErrorText(int result, const char* buffer) {
  return result == 0 ? buffer : "unknown error";
}
[[maybe_unused]] const char* ErrorText(const char* text, const char*) { return text; }

// The system's text for an errno value, starting lower-case to sit inside
// our own sentence: "network is unreachable".
std::string ErrnoText(int number) {
  char buffer[256] = {};
  std::string text = ErrorText(strerror_r(number, buffer, sizeof buffer), buffer);
  if (!text.empty()) {
    text[0] = ByteText::LowerAscii(text[0]);
  }
  return text;
}

std::string WithDetail(std::string text, std::string_view detail) {
  if (!detail.empty()) {
    text += " (";
    text.append(detail);
    text += ')';
  }
  return text;
}

}  // namespace

std::string HttpFailureText::ForStatus(long status, std::string_view statusLine) {
  if (status < 100 || status > 999) {
    return kNotHttp;
  }
  std::string text = "HTTP " + std::to_string(status);
  std::string_view phrase = ReasonPhrase(statusLine);
  if (phrase.empty()) {
    phrase = StandardPhrase(status);
  }
  if (!phrase.empty()) {
    text += ' ';
    text.append(phrase);
  }
  return text;
}

std::string HttpFailureText::ForTransfer(const HttpConnection::TransferFailure& failure) {
  std::string_view detail = ByteText::TrimEnd(failure.detail, kLineBlanks);
  auto code = static_cast<CURLcode>(failure.curlCode);
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
      // Before a request went out, the scheme of a URL (a redirect's: ours
      // were checked) was refused; after it, the answer had no status line
      // and was taken for HTTP/0.9, which is off.
      return failure.requestSent ? kNotHttp : kNotHttpUrl;
    case CURLE_URL_MALFORMAT:
      return kNotHttpUrl;
    case CURLE_COULDNT_RESOLVE_HOST:
      return "host not found";
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "proxy not found";
    case CURLE_COULDNT_CONNECT:
      if (failure.osErrno == ECONNREFUSED) {
        return "connection refused";
      }
      if (failure.osErrno == ETIMEDOUT) {
        return "no answer from the server";
      }
      return failure.osErrno != 0 ? WithDetail("cannot connect", ErrnoText(failure.osErrno)) : "cannot connect";
    case CURLE_OPERATION_TIMEDOUT:
      // Before the request, only the connect timeout runs; after it, only
      // the low-speed limit.
      if (!failure.requestSent) {
        return "no answer from the server";
      }
      return "the stream stalled (less than " + std::to_string(failure.stallBytesPerSecond) + " bytes/s for " +
             std::to_string(failure.stallSeconds) + " s)";
    case CURLE_TOO_MANY_REDIRECTS:
      return "too many redirects";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS: {
      // Our own words already say it is about the certificate.
      constexpr std::string_view kRedundant = "SSL certificate problem: ";
      if (ByteText::StartsWithNoCase(detail, kRedundant)) {
        detail.remove_prefix(kRedundant.size());
      }
      return WithDetail("certificate not trusted", detail);
    }
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
      return WithDetail("secure connection failed", detail);
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
      return WithDetail("connection lost", detail);
    case CURLE_GOT_NOTHING:
      return "no response from the server";
    case CURLE_WEIRD_SERVER_REPLY:
      return kNotHttp;
    case CURLE_PROXY:
      return WithDetail("proxy failed", detail);
    case CURLE_OUT_OF_MEMORY:
      return "out of memory";
    case CURLE_ABORTED_BY_CALLBACK:
      return kAborted;
    default:
      return WithDetail("connection failed", detail.empty() ? std::string_view(curl_easy_strerror(code)) : detail);
  }
}
