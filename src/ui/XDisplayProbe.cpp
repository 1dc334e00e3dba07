#include "ui/XDisplayProbe.h"

#include <xcb/xcb.h>

#include <memory>

namespace {

struct ConnectionCloser {
  // xcb_disconnect also frees a connection that failed.
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

}  // namespace

bool XDisplayProbe::Answers(const std::string& display) {
  const std::unique_ptr<xcb_connection_t, ConnectionCloser> connection(
      xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr));
  return connection != nullptr && xcb_connection_has_error(connection.get()) == 0;
}
