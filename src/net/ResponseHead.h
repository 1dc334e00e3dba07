#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The header block of a transfer's final response, put together from the
// lines curl's header callback hands on for every response of the transfer:
// 1xx interim answers and redirects that curl follows come first and are
// set aside; the block that ends otherwise is the final one. Should curl
// not follow a redirect after all, body bytes or the end of the transfer
// come instead of another block, and the block set aside is the final one
// (TakeSetAside).
//
// The final block is kept as the reader gets it: the status line and header
// lines as the server sent them, each ended by CR LF (a bare LF becomes CR
// LF), then the empty line.
//
// A plain value; the thread that drives the transfer.
class ResponseHead {
 public:
  // What a line did.
  enum class Step {
    More,      // nothing to act on
    Redirect,  // a redirect's block ended: curl makes the next request
    Complete,  // the final block ended: Block() holds it
    TooLarge,  // the block grew beyond maxBytes: the transfer must stop
  };

  explicit ResponseHead(size_t maxBytes) : maxBytes(maxBytes) {}

  // One line from curl's header callback, with or without its line end.
  // Lines after the final block (a chunked body's trailers) are passed over.
  Step Take(std::string_view line);
  // Body bytes or the end of the transfer came before a final block: the
  // block set aside last becomes the final one. True when there was one.
  bool TakeSetAside();

  bool Complete() const { return complete; }
  // The final block; "" before it is complete.
  const std::string& Block() const { return final; }
  // The final response's status code; 0 before, and for a status line
  // without three digits after its protocol.
  long Status() const { return status; }
  // The final status line without its line end; "" before.
  const std::string& StatusLine() const { return statusLine; }
  // The final block's Content-Type value, blanks trimmed; "" without one.
  const std::string& ContentType() const { return contentType; }

  // The status code of a status line such as "HTTP/1.1 302 Found" or "ICY
  // 200 OK"; 0 when there is none.
  static long ParseStatus(std::string_view line);

 private:
  void Finish(std::string& text, long code);

  // Constant after construction.
  size_t maxBytes;

  std::string block;  // the block being received
  long blockStatus = 0;
  bool inBlock = false;
  bool blockHasLocation = false;
  std::string setAside;  // the last interim or redirect block
  long setAsideStatus = 0;

  bool complete = false;
  std::string final;
  long status = 0;
  std::string statusLine;
  std::string contentType;
};
