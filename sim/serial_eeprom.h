// The seam between the PLX 9050 bridge model and a serial EEPROM on its CNTRL pins.
#ifndef ZARERERA_SIM_SERIAL_EEPROM_H
#define ZARERERA_SIM_SERIAL_EEPROM_H

namespace sim {

class SerialEeprom {
 public:
  virtual ~SerialEeprom() = default;
  // The bridge drives the three input pins on every CNTRL write; the part finds edges itself by
  // comparing with the last levels.
  virtual void Drive(bool chip_select, bool clock, bool data_in) = 0;
  // Level of the data-out pin now (undriven reads 1).
  virtual bool DataOut() = 0;
};

}  // namespace sim

#endif  // ZARERERA_SIM_SERIAL_EEPROM_H
