#pragma once

#include <QString>
#include <QStringList>

// The rule for a server URL the user types, pastes or drops (StreamUrl's,
// which the recorder applies too), with the window's words for a refusal.
// Used by the Add Server dialog and by drops on the server list, so both add
// exactly what the other would.
//
// Stateless; any thread.
class ServerUrl {
 public:
  // The URL as it is added, or a null string when text is refused; problem
  // (may be null) then receives why, in a sentence for a message box.
  static QString Normalize(const QString& text, QString* problem = nullptr);

  // When text names a local playlist file (a path, or a file:// URL, of a
  // .pls, .m3u, .m3u8, .xspf or .asx file, or of a file whose text starts
  // like one), its http and https entries; found is then true, and problem
  // says why when there are none. Otherwise found is false and nothing else
  // is set. Reads at most the playlist bound of the file.
  static QStringList FromLocalPlaylist(const QString& text, bool& found, QString* problem = nullptr);

  // Many texts at once (a drop): the URLs to add, in order, each local
  // playlist file replaced by the streams it names and blank texts skipped;
  // and the texts refused (trimmed): first the playlist files that name no
  // stream, then the texts that are no URL.
  struct Sifted {
    QStringList urls;
    QStringList refused;
  };
  static Sifted Sift(const QStringList& texts);
};
