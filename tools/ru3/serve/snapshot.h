// A record drawn as a PNG by the tool's plot, in memory: what the page saves
// and what :DISPlay:DATA? PNG sends.
#pragma once

#include <string>

#include "../plot.h"
#include "engine.h"

namespace ru3serve {

// The PNG file's bytes; throws ru3cli::Failure when it cannot be drawn.
std::string PlotPng(const Frame& frame, ru3cli::PlotSize size = {});

}  // namespace ru3serve
