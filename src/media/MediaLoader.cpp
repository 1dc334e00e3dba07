#include "media/MediaLoader.h"

#include <stdexcept>
#include <utility>

MediaLoader::MediaLoader() : module(media::kModule) {}

MediaLoader::MediaLoader(std::vector<std::string> folders)
    : module(media::kModule, std::move(folders)) {}

MediaLoader& MediaLoader::Process() {
  static MediaLoader loader;
  return loader;
}

const media::MediaCodecs& MediaLoader::Require() {
  const media::MediaCodecs* loaded = Codecs();
  if (loaded == nullptr) {
    throw std::runtime_error(Failure());
  }
  return *loaded;
}
