// Where the long-term store lives.
#pragma once

#include <filesystem>

#include "core/platform/settings_location.h"

namespace norvane {

// $NORVANE_STORE when set and non-empty, else $XDG_DATA_HOME/norvane-data-viewer/store.sqlite
// (an empty or relative XDG_DATA_HOME is ignored, as the XDG rules ask), else
// $HOME/.local/share/norvane-data-viewer/store.sqlite. Empty when none of these is known.
std::filesystem::path StorePathFrom(const EnvironmentLookup& lookup);

// StorePathFrom over the process environment.
std::filesystem::path DefaultStorePath();

// Where the window's day files and the recording saved on closing go when the settings name no
// folder ("FileSavePath"): $XDG_DATA_HOME/norvane-data-viewer/recordings, else
// $HOME/.local/share/norvane-data-viewer/recordings; whatever $NORVANE_STORE says. Empty when
// neither is known.
std::filesystem::path RecordingFolderFrom(const EnvironmentLookup& lookup);

// RecordingFolderFrom over the process environment, created when missing; empty when it cannot be.
std::filesystem::path DefaultRecordingFolder();

// Where a writer into a server keeps its journal on this machine: $STATE_DIRECTORY (systemd's
// StateDirectory= of a service), else the folder of the default store whatever $NORVANE_STORE says.
std::filesystem::path ServerJournalFolder();

}  // namespace norvane
