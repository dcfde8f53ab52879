// logfont: the font record the settings file keeps, one section per font
// with one integer key per field and the face name. The main window's list
// fonts and the catalog's text fonts use the same layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "library/profile.h"

namespace zorvex {

constexpr size_t FONT_FACE_MAX = 31;

struct TLogFont {
    int32_t Height = 0, Width = 0, Escapement = 0, Orientation = 0, Weight = 0;
    int32_t Italic = 0, Underline = 0, StrikeOut = 0, CharSet = 0, OutPrecision = 0;
    int32_t ClipPrecision = 0, Quality = 0, PitchAndFamily = 0;
    std::string FaceName;
    bool operator==(const TLogFont&) const = default;
};

// A missing key keeps the built-in value.
TLogFont ReadLogFont(const TProfile& profile, std::string_view section, const TLogFont& builtIn);
void WriteLogFont(TProfile& profile, std::string_view section, const TLogFont& font);

}  // namespace zorvex
