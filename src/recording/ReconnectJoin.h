#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Decides how the audio of a replaced connection goes on in a file that
// already holds the end of the same programme. A server starts every new
// listener with a burst of the last seconds it sent, so the new audio
// usually begins with bytes the file already ends with: those are skipped
// and the file goes on seamlessly. When the new audio does not begin inside
// the file's end, some audio was missed between the two connections (a gap),
// and the caller starts a new file rather than hide the gap inside one.
//
// The new audio is held here until the answer is certain: the largest
// overlap that the bytes received so far still allow has been confirmed to
// the tail's end, or every possible overlap has been refuted. At most about
// tail.size() + one block is held.
//
// An Ogg stream starts every listener with its codec header pages; the file
// has them at its start, not at its end. With oggHeaders set, the leading
// header pages of the new audio are left out of the comparison and skipped
// along with the overlap (kept when there is a gap: the new file needs them).
//
// Not thread-safe: the writer that owns it calls it under its own lock.
class ReconnectJoin {
 public:
  // How much of the file's end is compared.
  static constexpr int32_t kTailBytes = 1024 * 1024;
  // An overlap shorter than this is not trusted to be one.
  static constexpr int32_t kMinOverlap = 256;
  // The new audio's first bytes searched for in the tail.
  static constexpr int32_t kProbeBytes = 4096;
  // Places in the tail followed at once (a stretch of identical silent
  // frames can match in many places; the largest overlaps come first).
  static constexpr size_t kMaxCandidates = 64;

  enum class Outcome {
    Undecided,  // more audio is needed
    Overlap,    // SkipBytes() of Held() repeat the file's end; the rest is new
    Gap,        // none of Held() repeats the file's end
  };

  // tail: the last bytes of the file (at most kTailBytes are used).
  ReconnectJoin(std::string tail, bool oggHeaders);

  // The next audio of the new connection.
  Outcome Add(const uint8_t* data, int32_t size);
  // The new connection ended too: decides with what is held. When all of it
  // lies within the file's end, the outcome is Overlap with every byte
  // skipped.
  Outcome Finish();

  const std::string& Held() const { return held; }
  // With Overlap: how many leading bytes of Held() repeat the file's end
  // (Ogg header pages included); 0 otherwise.
  size_t SkipBytes() const { return skip; }

 private:
  Outcome Decide(bool final);
  // Fills candidates with the tail positions where an overlap of at least
  // kMinOverlap bytes may begin, comparing probe bytes of the new audio.
  void Search(size_t probe);
  // Drops the candidates that the held audio contradicts.
  void Verify();
  size_t BodyStart() const { return headerBytes < 0 ? 0 : static_cast<size_t>(headerBytes); }
  size_t BodySize() const { return held.size() - BodyStart(); }

  std::string tail;
  const bool oggHeaders;
  std::string held;
  int32_t headerBytes = -1;  // Ogg header pages at held's start; -1: not known yet
  bool searched = false;
  struct Candidate {
    size_t position;  // where in tail the new audio (past its header pages) begins
    size_t verified;  // bytes compared so far
  };
  std::vector<Candidate> candidates;  // ascending position: largest overlap first
  size_t skip = 0;
};
