#pragma once

#include <cstddef>

// The texts the program shows when no language file gives them.
namespace language_defaults {

struct DefaultText {
    const char* key;
    const char* text;
};

inline constexpr std::size_t kTextTotal = 185;
// The built-in English table, in the table's own (ascending byte) order; the
// window's captions and folder titles keep their original Russian.
extern const DefaultText kTexts[kTextTotal];

}  // namespace language_defaults
