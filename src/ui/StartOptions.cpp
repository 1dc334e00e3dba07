#include "ui/StartOptions.h"

#include <array>
#include <string_view>

#include "text/ByteText.h"

#ifndef DRIFTHARBOUR_VERSION
#define DRIFTHARBOUR_VERSION "1.0"
#endif

namespace {

// Qt's command-line options (QGuiApplication, QApplication and the X
// platform) that take the next word as their value; "-name=value" is
// accepted for them too.
constexpr std::array<std::string_view, 16> kQtOptionsWithValue = {
    "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry", "qwindowtitle",
    "qwindowicon", "qmljsdebugger",      "style",         "stylesheet", "session",      "display",
    "geometry",    "name",               "title",         "visual"};
// Qt's options that stand alone.
constexpr std::array<std::string_view, 5> kQtFlags = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

template <size_t N>
bool Contains(const std::array<std::string_view, N>& names, std::string_view name) {
  for (const std::string_view known : names) {
    if (known == name) {
      return true;
    }
  }
  return false;
}

}  // namespace

StartOptions StartOptions::Parse(int argc, const char* const* argv) {
  StartOptions options;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word(argv[i] == nullptr ? "" : argv[i]);
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      options.words.emplace_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
    } else if (word == "--help" || word == "-h" || word == "-help") {
      options.help = true;
    } else if (word == "--version" || word == "-v") {
      options.version = true;
    } else {
      // Qt takes its options with one dash or two.
      std::string_view name = word.substr(word.starts_with("--") ? 2 : 1);
      std::string_view value;
      bool hasValue = false;
      if (const size_t equals = name.find('='); equals != std::string_view::npos) {
        value = name.substr(equals + 1);
        name = name.substr(0, equals);
        hasValue = true;
      }
      if (Contains(kQtOptionsWithValue, name)) {
        if (!hasValue && i + 1 < argc) {
          value = argv[++i] == nullptr ? "" : argv[i];
        }
        if (name == "platform") {
          options.platformGiven = true;
        } else if (name == "display") {
          options.displayOption = std::string(value);
        }
      } else if (!hasValue && Contains(kQtFlags, name)) {
        // Qt's alone.
      } else if (options.unknown.empty()) {
        options.unknown = std::string(word);
      }
    }
  }
  return options;
}

bool StartOptions::HasDisplay(const Lookup& lookup) const {
  if (platformGiven || !displayOption.empty()) {
    return true;
  }
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = lookup ? lookup(name) : nullptr;
    if (value != nullptr && *value != '\0') {
      return true;
    }
  }
  return false;
}

std::string StartOptions::XDisplayToTry(const Lookup& lookup) const {
  const auto read = [&lookup](const char* name) {
    const char* value = lookup ? lookup(name) : nullptr;
    return value == nullptr ? std::string() : std::string(value);
  };
  if (platformGiven) {
    return {};
  }
  const std::string platform = read("QT_QPA_PLATFORM");
  if (!platform.empty() && !ByteText::StartsWithNoCase(platform, "xcb")) {
    return {};
  }
  // Without a platform named, Qt takes a Wayland session where there is one.
  if (platform.empty() && !read("WAYLAND_DISPLAY").empty()) {
    return {};
  }
  return displayOption.empty() ? read("DISPLAY") : displayOption;
}

std::string StartOptions::Usage() {
  return "usage: driftharbour [URL...]\n"
         "       driftharbour --help | --version\n"
         "\n"
         "Records internet radio (SHOUTcast and Icecast streams) from a list of\n"
         "servers in a window; a double-click, Enter or Space starts and stops an\n"
         "entry. Each URL given is added to the list unless it is there already,\n"
         "and starts recording at once; a local .pls, .m3u or .xspf file stands\n"
         "for the streams it names. When a window is open on the same list\n"
         "already, the URLs go to it and this program ends.\n"
         "\n"
         "The list is kept in Driftharbour.ini beside the program, or, when that\n"
         "directory is not writable, in $XDG_CONFIG_HOME/driftharbour/ (by default\n"
         "~/.config/driftharbour/); new entries then record into the music folder\n"
         "(xdg-user-dir MUSIC, else ~/Music). SIGTERM, SIGINT and SIGHUP stop every\n"
         "recording with all audio received and end the program with status 0.\n"
         "\n"
         "The window needs a graphical session; driftharbour-record records\n"
         "without one.\n"
         "\n"
         "  --help       this text\n"
         "  --version    the program's version\n";
}

std::string StartOptions::VersionText() { return std::string("driftharbour ") + DRIFTHARBOUR_VERSION + "\n"; }

std::string StartOptions::NoDisplayText() {
  return "driftharbour: needs a graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set); "
         "driftharbour-record records without one\n";
}

std::string StartOptions::UnreachableDisplayText(const std::string& display) {
  return "driftharbour: cannot open the display " + display +
         " (no graphical session answers there); driftharbour-record records without one\n";
}

std::string StartOptions::UnknownOptionText(const std::string& option) {
  return "driftharbour: unknown option " + option + "\n";
}
