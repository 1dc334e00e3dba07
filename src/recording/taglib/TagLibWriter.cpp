// The tag module's TagLib code: AudioTagger's writing, behind the
// tagging::TagWriter interface, in libdriftharbour-tags.so.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/ReplacementFile.h"
#include "base/UniqueFd.h"
#include "recording/TagWriter.h"

namespace {


constexpr size_t kCopyChunk = size_t{64} * 1024;
constexpr const char* kCopyPattern = ".dh-tag-XXXXXX";

std::string SystemReason(int error) { return std::generic_category().message(error); }

// The properties both tag kinds take, over those the file has.
void Apply(const tagging::Fields& tags, TagLib::PropertyMap& properties) {
  const std::pair<const char*, const std::string*> fields[] = {
      {"TITLE", &tags.title}, {"ARTIST", &tags.artist}, {"ALBUM", &tags.album},
      {"COMMENT", &tags.comment}, {"DATE", &tags.date}};
  for (const auto& [key, value] : fields) {
    if (!value->empty()) {
      properties.replace(key, TagLib::StringList(TagLib::String(*value, TagLib::String::UTF8)));
    }
  }
}

// The tagged copy of a file, next to it; removed unless Commit renamed it
// over the file.
class Replacement {
 public:
  explicit Replacement(const std::string& target) : target(target) {}

  bool Create(std::string& reason) {
    // Hidden, so that nobody takes a half-written copy for a recording, and
    // short whatever the recording's name: a name at the 255-byte limit
    // leaves no room for anything around it.
    std::string pattern = (std::filesystem::path(target).parent_path() / kCopyPattern).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    UniqueFd created(::mkostemp(name.data(), O_CLOEXEC));
    if (!created.Valid()) {
      const int error = errno;  // before the text is built
      reason = "cannot create a file next to " + target + ": " + SystemReason(error);
      return false;
    }
    copy.Adopt(std::move(created), name.data());
    return true;
  }

  bool Write(const char* data, size_t size, std::string& reason) {
    if (const int error = copy.Write(data, size); error != 0) {
      reason = "cannot write " + copy.Path() + ": " + SystemReason(error);
      return false;
    }
    return true;
  }

  // Appends the bytes of source from offset to its end.
  bool CopyFrom(int source, off_t offset, std::string& reason) {
    std::vector<char> chunk(kCopyChunk);
    while (true) {
      const ssize_t got = ::pread(source, chunk.data(), chunk.size(), offset);
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got < 0) {
        const int error = errno;  // before the text is built
        reason = "cannot read " + target + ": " + SystemReason(error);
        return false;
      }
      if (got == 0) {
        return true;
      }
      if (!Write(chunk.data(), static_cast<size_t>(got), reason)) {
        return false;
      }
      offset += got;
    }
  }

  // The copy takes the file's permission bits and place.
  bool Commit(mode_t mode, std::string& reason) {
    if (::fchmod(copy.Fd(), mode & 07777) != 0 || ::fdatasync(copy.Fd()) != 0) {
      const int error = errno;  // before the text is built
      reason = "cannot finish " + copy.Path() + ": " + SystemReason(error);
      return false;
    }
    // Synced already: a close cannot fail for want of write-back now.
    (void)copy.Close();
    if (const int error = copy.RenameOver(target); error != 0) {
      reason = "cannot replace " + target + ": " + SystemReason(error);
      return false;
    }
    return true;
  }

  const std::string& Path() const { return copy.Path(); }

 private:
  const std::string target;
  ReplacementFile copy;
};

// The file to tag, open for reading, and its status; an invalid descriptor
// (with the reason) when it cannot be read.
UniqueFd OpenToRead(const std::string& path, struct stat& status, std::string& reason) {
  UniqueFd source(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!source.Valid() || ::fstat(source.Get(), &status) != 0) {
    const int error = errno;  // before the text is built
    reason = "cannot read " + path + ": " + SystemReason(error);
    return UniqueFd();
  }
  return source;
}

bool TagId3(const std::string& path, const tagging::Fields& tags, std::string& reason) {
  struct stat status;
  const UniqueFd source = OpenToRead(path, status, reason);
  if (!source.Valid()) {
    return false;
  }
  std::array<char, 10> head{};
  const ssize_t got = ::pread(source.Get(), head.data(), head.size(), 0);
  TagLib::PropertyMap properties;
  off_t audioStart = 0;
  if (got == static_cast<ssize_t>(head.size()) && TagLib::ByteVector(head.data(), 3) == "ID3") {
    // A tag of our own from before (or the station's): replaced, its text
    // fields kept.
    const TagLib::ID3v2::Header header(TagLib::ByteVector(head.data(), static_cast<unsigned int>(head.size())));
    audioStart = static_cast<off_t>(header.completeTagSize());
    if (audioStart <= 0 || audioStart > status.st_size) {
      reason = path + " begins with a broken ID3v2 tag";
      return false;
    }
    TagLib::MPEG::File existing(path.c_str(), false);
    if (existing.isValid() && existing.hasID3v2Tag()) {
      properties = existing.ID3v2Tag()->properties();
    }
  }
  Apply(tags, properties);
  TagLib::ID3v2::Tag tag;
  tag.setProperties(properties);
  const TagLib::ByteVector rendered = tag.render(TagLib::ID3v2::v4);

  Replacement replacement(path);
  return replacement.Create(reason) && replacement.Write(rendered.data(), rendered.size(), reason) &&
         replacement.CopyFrom(source.Get(), audioStart, reason) && replacement.Commit(status.st_mode, reason);
}

template <typename OggFile>
bool TagOgg(const std::string& path, const tagging::Fields& tags, std::string& reason) {
  struct stat status;
  const UniqueFd source = OpenToRead(path, status, reason);
  if (!source.Valid()) {
    return false;
  }
  // TagLib rewrites in place: it works on the copy.
  Replacement replacement(path);
  if (!replacement.Create(reason) || !replacement.CopyFrom(source.Get(), 0, reason)) {
    return false;
  }
  {
    OggFile file(replacement.Path().c_str(), false);
    if (!file.isValid() || file.tag() == nullptr) {
      reason = path + " has no comment header TagLib can read";
      return false;
    }
    TagLib::PropertyMap properties = file.tag()->properties();
    Apply(tags, properties);
    file.tag()->setProperties(properties);
    if (!file.save()) {
      reason = "TagLib could not write the comment header of " + path;
      return false;
    }
  }
  return replacement.Commit(status.st_mode, reason);
}


class TagLibWriter final : public tagging::TagWriter {
 public:
  bool Tag(const std::string& path, AudioFormat format, const tagging::Fields& tags,
           std::string* error) const override;
};

bool TagLibWriter::Tag(const std::string& path, AudioFormat format, const tagging::Fields& tags,
                       std::string* error) const {
  std::string reason;
  bool tagged = false;
  try {
    switch (format) {
      case AudioFormat::Mp3:
      case AudioFormat::Aac:
        tagged = TagId3(path, tags, reason);
        break;
      case AudioFormat::Ogg:
        tagged = TagOgg<TagLib::Ogg::Vorbis::File>(path, tags, reason);
        break;
      case AudioFormat::Opus:
        tagged = TagOgg<TagLib::Ogg::Opus::File>(path, tags, reason);
        break;
    }
  } catch (const std::exception& failure) {
    // TagLib's own allocations; the copy, if any, is gone again.
    reason = "cannot tag " + path + ": " + failure.what();
    tagged = false;
  }
  if (!tagged && error != nullptr) {
    *error = reason.empty() ? "cannot tag " + path : reason;
  }
  return tagged;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const void* driftharbour_tag_writer(int interfaceVersion) {
  static const TagLibWriter writer;
  return interfaceVersion == tagging::kModule.interfaceVersion ? static_cast<const tagging::TagWriter*>(&writer)
                                                               : nullptr;
}
