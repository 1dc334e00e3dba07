#pragma once

#include <cstdint>

// How one entry's songs are cut, tagged and filed, beyond File Splitting and
// Smart Splitting. An entry stored before these options existed has them all
// off (its files come out as they always did); an entry added from now on
// gets ForNewEntries().
struct RecordingOptions {
  // Cut each title change at the quietest moment near it (SilenceCutter)
  // instead of at the metadata block; replaces Smart Splitting's overlap.
  bool cutAtSilence = false;
  // How far before the title change to look (for titles that come late) and
  // how far after it (titles that come early).
  int32_t searchBeforeMs = 6000;
  int32_t searchAfterMs = 4000;
  // Once enough cuts have found a silence, widen the window to reach half its
  // width either side of the station's usual title lag (TitleLag). Off when
  // the window is given explicitly.
  bool learnTitleLag = true;
  int32_t silenceThresholdDbfs = -50;  // RMS at or below this is quiet
  // Where to cut when nothing is quiet enough: the title change plus this.
  int32_t splitOffsetMs = 0;
  // Tag each file when it is closed: ID3v2.4 (MP3, AAC), comments (Ogg,
  // Opus). Changes the files' first bytes, so off unless chosen.
  bool tags = false;
  // File the first song of a connection, a song closed by a stop or a lost
  // connection, and songs shorter than minLengthSeconds under incomplete/.
  bool keepPartialApart = false;
  int32_t minLengthSeconds = 0;  // 0: no minimum

  static RecordingOptions ForNewEntries() {
    RecordingOptions options;
    options.cutAtSilence = true;
    options.keepPartialApart = true;
    return options;
  }

  bool operator==(const RecordingOptions&) const = default;
};
