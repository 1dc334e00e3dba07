#pragma once

#include <cstdint>

// The kind of a text a stream announces to its observers with OnText.
enum class StreamEvent : int32_t {
  Title = 1,             // value of "StreamTitle" (or an Ogg stream's comment title); empty when the worker ends
  Url = 2,               // value of "StreamUrl"
  Bitrate = 3,           // value of the "icy-br" header line
  Name = 4,              // value of the "icy-name" header line
  State = 5,             // display text of the new StreamState
  Received = 6,          // bytes of the current title, plain decimal digits
  ReceivedComplete = 7,  // bytes since the last reset, plain decimal digits
  // Announced once per response, in this order, before its first audio byte
  // (and before the Title that audio belongs to):
  Format = 8,   // the audio's file extension: "mp3", "aac", "ogg" or "opus"
  Station = 9,  // what names untitled audio: the station's icy-name, else the URL's host
  // Why the stream is not recording, in words a user understands ("HTTP 404
  // Not Found", "connection refused"), announced just before the state
  // "Error on connecting"; an empty text once a connection has succeeded.
  Reason = 10,
  // Audio was lost before the next audio byte (an HLS segment that left the
  // playlist unfetched); the text says how much ("2 segments").
  Gap = 11,
  // The URL the audio comes from when it is not the entry's own: the stream
  // a playlist named, or the HLS playlist followed. Announced once per
  // attempt, before its audio.
  Source = 12,
};
