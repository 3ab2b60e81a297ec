// Names for the dictionary numbers of the window's texts from 300 on.
#pragma once

namespace norvane {

enum WindowText : int {
  kTextRecordingCut = 300,
  kTextCounterClock,
  kTextAboutCaption,
  kTextAboutVersion,
  kTextAboutLicence,
  kTextAboutSettings,
  kTextAboutData,
  kTextAboutSaves,
  kTextAboutStore,
  kTextAboutStoreOff,
  kTextAboutSummary,
};

}  // namespace norvane
