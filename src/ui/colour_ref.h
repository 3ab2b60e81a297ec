// Colours as the settings keep them (0x00BBGGRR) and as Qt paints them.
#pragma once

#include <QColor>
#include <cstdint>

namespace norvane {

inline QColor FromColourRef(uint32_t ref) {
  return QColor(static_cast<int>(ref & 0xFF), static_cast<int>((ref >> 8) & 0xFF),
                static_cast<int>((ref >> 16) & 0xFF));
}

// Alpha is dropped: a stored colour is always opaque.
inline uint32_t ToColourRef(const QColor& colour) {
  const QColor rgb = colour.toRgb();
  return static_cast<uint32_t>(rgb.red()) | static_cast<uint32_t>(rgb.green()) << 8 |
         static_cast<uint32_t>(rgb.blue()) << 16;
}

}  // namespace norvane
