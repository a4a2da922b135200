// Numeric codes that cross from the library to the program through
// GetPrinterDetailVB, and the status bits both sides read.
#pragma once

#include <cstdint>

namespace morlix {

enum PortType : std::int32_t {
    PORT_TYPE_USB = 0,
    PORT_TYPE_PARALLEL = 1,
    PORT_TYPE_SERIAL = 2,  // display only
    PORT_TYPE_ETHERNET = 3,
    PORT_TYPE_UNKNOWN = 4,
};

enum LogicBoard : std::int32_t {
    LOGIC_BD_I = 0,
    LOGIC_BD_II = 1,
    LOGIC_BD_MXR_PLUS = 2,
};

// The printer's command language.
enum PrinterType : std::int32_t {
    PRINTER_TYPE_G = 0,
    PRINTER_TYPE_KTL = 1,
    PRINTER_TYPE_RASTER = 2,     // display only
    PRINTER_TYPE_NOT_FOUND = 3,  // display only
};

enum PrinterModel : std::int32_t {
    PRINTER_MODEL_RVA = 0,
    PRINTER_MODEL_RVB = 1,
    PRINTER_MODEL_RVC = 2,  // display only
    PRINTER_MODEL_UNKNOWN = 3,
};

// Status byte 4 (counted from 0) of a status reply.
inline constexpr std::size_t STATUS_FLAGS_BYTE = 4;
inline constexpr std::uint8_t STATUS_BUSY_BIT = 0x20;
inline constexpr std::uint8_t STATUS_FLASH_TOGGLE_BIT = 0x02;

}  // namespace morlix
