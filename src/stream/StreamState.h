#pragma once

#include <cstdint>

// The connection state of a stream. The window lets an entry's settings
// change only while it is Disconnected.
enum class StreamState : int32_t {
  Undefined = 0,
  Disconnecting = 1,  // display text only; never entered
  Disconnected = 2,
  Connecting = 3,
  Connected = 4,
  ErrorOnConnecting = 5,
  ErrorPreparingBuffer = 6,
};

// "Undefined", "Disconnecting", "Disconnected", "Connecting", "Connected",
// "Error on connecting", "Error when preparing buffer"; "Undefined" for any
// value outside 1..6.
const char* StreamStateText(StreamState state);
