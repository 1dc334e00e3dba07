#include "stream/StreamState.h"

const char* StreamStateText(StreamState state) {
  switch (state) {
    case StreamState::Disconnecting:
      return "Disconnecting";
    case StreamState::Disconnected:
      return "Disconnected";
    case StreamState::Connecting:
      return "Connecting";
    case StreamState::Connected:
      return "Connected";
    case StreamState::ErrorOnConnecting:
      return "Error on connecting";
    case StreamState::ErrorPreparingBuffer:
      return "Error when preparing buffer";
    case StreamState::Undefined:
      break;
  }
  return "Undefined";
}
