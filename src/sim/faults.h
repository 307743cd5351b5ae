// Faults of the simulated PC and RU3: the ways a real instrument and its
// cable fail, switched on and off by a test while the library runs.
//
//   sim().faults().unplugged = true;         // cable pulled now
//   sim().faults().UnplugAfterLaneReads(200); // pulled during the next read-out
//   sim().faults().busy_stuck = true;        // status register says busy forever
//   sim().faults().eeprom_silent = true;     // EEPROM never answers
//
// The port claimed by another process is the simulated PC's own state (open
// the name with OpenDevice before the library does), and a missing
// port-access driver is SimConfig::driver_present.
#pragma once

#include <cstdint>

namespace ru3::sim {

struct Faults {
  // The instrument is switched off or its cable is out: its status lines
  // float (every read gives the floating value), and writes reach nothing.
  bool unplugged = false;
  // The busy bit of the measuring unit's status register reads 1 whatever
  // the acquisition does; everything else works.
  bool busy_stuck = false;
  // The serial EEPROM neither acknowledges nor drives its data line: the
  // line reads back high.
  bool eeprom_silent = false;

  // Unplugs after `reads` more status-port reads of the instrument's port.
  void UnplugAfterReads(std::uint64_t reads) {
    unplug_countdown_ = reads;
    countdown_armed_ = true;
    lane_only_ = false;
  }
  // Unplugs after `reads` more reads of the sample lane: in the middle of the
  // next read-out.
  void UnplugAfterLaneReads(std::uint64_t reads) {
    UnplugAfterReads(reads);
    lane_only_ = true;
  }

  // Whether the instrument is out at this status read; counts the read.
  // `lane` tells whether the read is one of the sample lane.
  bool UnpluggedAtRead(bool lane);
  // Status-port reads of the instrument's port so far.
  [[nodiscard]] std::uint64_t status_reads() const { return status_reads_; }

  // Applies busy_stuck and eeprom_silent to a status byte the instrument
  // drives. `data` is the data latch (it selects unit and nibble) and
  // `selected_register` the register the addressed unit shows.
  [[nodiscard]] std::uint8_t FilterStatus(std::uint8_t status, std::uint8_t data, int selected_register) const;

 private:
  std::uint64_t status_reads_ = 0;
  std::uint64_t unplug_countdown_ = 0;
  bool countdown_armed_ = false;
  bool lane_only_ = false;
};

}  // namespace ru3::sim
