// A small documents folder of made-up music for screenshots and benchmarks: albums of
// tagged WAV files with a cover picture and lyrics, a disc image with its cue sheet, and
// a play list. The audio files are sparse (silent, taking no disk space) but have the
// lengths the lists show.
#pragma once

#include <QString>

namespace SampleLibrary {

// Writes the sample into `folder` (created when missing); false on any write failure.
bool write(const QString &folder);
// A WAV file of `seconds` of 16-bit stereo 44.1 kHz silence with an ID3 tag (empty fields
// are left out); false on failure.
bool writeWav(const QString &path, double seconds, const QString &title, const QString &artist,
              const QString &album, int track);

} // namespace SampleLibrary
