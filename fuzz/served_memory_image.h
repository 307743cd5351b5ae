// The simulated PC of the fuzz build: the simulator as every test has it,
// except that it hands the instrument's EEPROM image over in one piece when
// the library loads it at opening, instead of answering the hundred thousand
// port accesses of the bus read: half of an opening's time. The fuzz build
// links its own VOz3::LoadMemoryImage (served_memory_image.cpp, in place of
// src/instrument/MemoryImage.cpp), which takes the image from this PC when it
// is the back end and reads it over the bus otherwise. The image and the
// moments it is served are those of the bus read; the read itself is
// exercised by the default test suite.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sim/simulator.h"

namespace ru3::fuzz {

class ServedImagePc final : public sim::SimulatedPc {
 public:
  using SimulatedPc::SimulatedPc;

  // The EEPROM image, when the instrument's port is held and a bus read would
  // reach the memory now (unit 1 selected, plugged in, the memory answering).
  bool ServeMemoryImage(std::uint8_t* image, std::size_t size);
};

}  // namespace ru3::fuzz
