// SPDX-License-Identifier: MIT
// A header that the layer check must refuse when it stands in the link
// layer: the link layer may not include the window model above it.
#pragma once
#include "link/clock.h"
#include "app/window_model.h"
