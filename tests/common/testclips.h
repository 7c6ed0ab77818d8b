#pragma once

#include <QString>

// Where the tests find the generated clip corpus and the programs (the paths come from the build).
namespace testsupport {

// Full path of a corpus clip by file name, e.g. clipPath("h264_aac.mp4").
inline QString clipPath(const QString &name) { return QStringLiteral(CLIPS_DIR "/") + name; }
// The about one minute sample clip that the programs open by default.
inline QString sampleClip() { return QStringLiteral(SAMPLE_CLIP); }
// Folder of the built programs.
inline QString binDir() { return QStringLiteral(BIN_DIR); }
// Source folder of the tests (for scripts and fixtures).
inline QString testsSourceDir() { return QStringLiteral(TESTS_SOURCE_DIR); }

} // namespace testsupport
