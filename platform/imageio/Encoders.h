#pragma once

#include "platform/imageio/ImageDestination.h"

// The encoders of the writer layer, one file each under platform/imageio/.
namespace platform::encoders {

}  // namespace platform::encoders
