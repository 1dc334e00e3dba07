#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "recording/FileSyncer.h"
#include "recording/RecordingOptions.h"

// What is done to a recording once it is closed, besides the sync: with the
// tags option it is tagged (AudioTagger: artist and title from the stream
// title, the station as album, the URL as comment, the recording's date);
// with the option to keep partial songs apart (and File Splitting on) a file
// that does not hold a whole song is moved into incomplete/ beside it, under
// a free name (its "(n)" form when the name is taken, a random "-xxxxxxxx"
// form after kMaxMoveClashes numbers were taken by someone else first). Not whole: the first file of a connection, a file closed by a
// stop or a lost connection, and one shorter than the minimum length (when
// the bit rate is known). A show's one file goes into incomplete/ exactly
// when it misses its beginning or its end, whatever the options say.
//
// Stateless. Make runs wherever the writer closes the file; the work it
// returns runs on the syncer's thread (or the writer's, without a syncer)
// and reports each failure once, with the file and the system's reason, to
// the SyncReport it was given.
class SongFinish {
 public:
  // What the finish needs to know of the file being closed. Everything up
  // to `interrupted` is fixed when the file is created; the rest at close.
  struct Song {
    std::string title;  // "" for untitled audio
    std::string station;
    std::string date;            // "YYYY-MM-DD", local time
    bool startsPartial = false;  // the first file of a connection, or after a gap
    bool interrupted = false;    // the connection was lost while it was open
    bool showFile = false;       // the one file of a show
    bool showPartial = false;    // ...which misses its beginning or its end
    std::string extension;       // without the dot
    int64_t bytes = 0;
    int32_t bitrateKbps = 0;  // 0: unknown
  };

  // The work for song as options say; empty parts where there is nothing to
  // do. url is the entry's, for the tags.
  static FileSyncer::Finish Make(const RecordingOptions& options, bool fileSplitting, const std::string& url,
                                 const Song& song, const std::shared_ptr<SyncReport>& report);
  static constexpr int kMaxMoveClashes = 100;

  // Renames from to to, never over anything at to: 0, EEXIST when to is
  // taken, EINVAL or ENOSYS where the file system or the kernel cannot
  // promise that, or another errno.
  using RenameNoReplace = std::function<int(const std::string& from, const std::string& to)>;
  // renameat2 with RENAME_NOREPLACE.
  static int RenameWithoutReplacing(const std::string& from, const std::string& to);

  // Moves the closed recording at path into incomplete/ beside it, never
  // over an existing name: with rename, or link and unlink where rename
  // refuses RENAME_NOREPLACE. Its new path, or "" when it stays where it is
  // (the reason goes to report).
  static std::string MoveToIncomplete(const std::string& path, SyncReport& report,
                                      const RenameNoReplace& rename = RenameWithoutReplacing);
  // Today's date in local time, "YYYY-MM-DD".
  static std::string Today();
};
