// The media module, loaded on first use: a run that reads WAVE files only never maps FFmpeg's
// libraries (about 25 MiB and a noticeable part of a short run's start-up). A build without
// FFmpeg links MediaLoaderStub.cpp instead, whose component can't be had.
#pragma once

#include "MediaComponent.h"

namespace Trelis {

// The module's component, loaded from beside the program at the first call (the later ones
// return it). Throws std::runtime_error naming the module and why it can't be loaded, at every
// call when it can't.
MediaComponent& mediaComponent();

// False in a build without FFmpeg, where mediaComponent() always throws.
bool mediaDecoderBuilt();

}  // namespace Trelis
