#pragma once

#include <cstdint>

// The kind of a text a stream announces to its observers with OnText.
enum class StreamEvent : int32_t {
  Title = 1,             // value of "StreamTitle"; empty when the worker ends
  Url = 2,               // value of "StreamUrl"
  Bitrate = 3,           // value of the "icy-br" header line
  Name = 4,              // value of the "icy-name" header line
  State = 5,             // display text of the new StreamState
  Received = 6,          // bytes of the current title, plain decimal digits
  ReceivedComplete = 7,  // bytes since the last reset, plain decimal digits
};
