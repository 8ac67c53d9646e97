// The view's real link: the client-interface library and the broker.
#pragma once

#include <memory>

#include "viewer/viewlink.h"

namespace velmora {

std::unique_ptr<ViewLink> MakeBrokerLink();

}  // namespace velmora
