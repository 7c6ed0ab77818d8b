#pragma once

#include <QString>

// Where the tests find the generated clip corpus and the programs.
namespace testsupport {

// Full path of a corpus clip by file name, e.g. clipPath("h264_aac.mp4").
QString clipPath(const QString &name);
// The about one minute sample clip that the programs open by default.
QString sampleClip();
// Folder of the built programs.
QString binDir();
// Source folder of the tests (for scripts and fixtures).
QString testsSourceDir();

} // namespace testsupport
