// The media module, loaded on first use: a run that reads WAVE files only never maps FFmpeg's
// libraries (about 25 MiB and a noticeable part of a short run's start-up). A build without
// FFmpeg links MediaLoaderStub.cpp instead, whose component can't be had.
#pragma once

#include <string>

#include "MediaComponent.h"

namespace Trelis {

// The module's component, loaded from beside the program at the first call (the later ones
// return it). Throws std::runtime_error naming the module and why it can't be loaded, at every
// call when it can't.
MediaComponent& mediaComponent();

// Where a host other than the program looks for the module instead of beside the program: the
// Python module, whose program is python3, names the folder of the shared library it loaded
// (the module lies there, in the build tree and installed). Only before the first
// mediaComponent(); later calls change nothing.
void setMediaModuleFolder(const std::string& folder);

// False in a build without FFmpeg, where mediaComponent() always throws.
bool mediaDecoderBuilt();

}  // namespace Trelis
