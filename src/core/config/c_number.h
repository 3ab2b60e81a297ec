// Reading numbers out of the editor's fields the way the counter's own tools always have.
#pragma once

#include <cstdint>
#include <string_view>

namespace norvane {

// As C's atoi: leading blanks, an optional sign, the leading digits; 0 when there are none.
// Beyond the range of a long the value saturates, then keeps its low 32 bits, as the usual
// library does, rather than being undefined.
int32_t ParseIntegerField(std::string_view text);

// As C's atof, narrowed to single precision; 0 when no number starts the text. Values beyond
// single precision become infinities.
float ParseFloatField(std::string_view text);

}  // namespace norvane
