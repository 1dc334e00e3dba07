#pragma once

#include "app/LayoutAnchor.h"

// The main form's controls, by the ids its layout anchor knows them under.
// The pieces of the form (EntryList, DetailPanel) hand out their widgets by
// these ids; CDriftharbourView offers them as its own ControlId.
struct FormControl {
  enum Id : AnchorControlId {
    kServerList = 1001,
    kSmartSplitting = 1006,
    kFileSplitting = 1007,
    kDirectoryField = 1008,
    kBrowse = 1009,
    kBackdrop = 1010,
    kDirectoryLabel = 1011,
    kHint = 1012,
    kStatusLine = 1013,
    kCutAtSilence = 1014,
    kTags = 1015,
    kKeepPartialApart = 1016,
  };
};
