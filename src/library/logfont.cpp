#include "library/logfont.h"

namespace zorvex {

namespace {

struct TFontField {
    const char* Key;
    int32_t TLogFont::*Field;
};
const TFontField FONT_FIELDS[] = {
    {"height", &TLogFont::Height},          {"width", &TLogFont::Width},
    {"escapement", &TLogFont::Escapement},  {"orientation", &TLogFont::Orientation},
    {"weight", &TLogFont::Weight},          {"italic", &TLogFont::Italic},
    {"underline", &TLogFont::Underline},    {"strikeout", &TLogFont::StrikeOut},
    {"charset", &TLogFont::CharSet},        {"outprec", &TLogFont::OutPrecision},
    {"clipprec", &TLogFont::ClipPrecision}, {"quality", &TLogFont::Quality},
    {"pitch", &TLogFont::PitchAndFamily},
};

}  // namespace

TLogFont ReadLogFont(const TProfile& profile, std::string_view section, const TLogFont& builtIn) {
    TLogFont font = builtIn;
    for (const TFontField& f : FONT_FIELDS)
        font.*f.Field = profile.GetInt(section, f.Key, builtIn.*f.Field);
    font.FaceName = profile.GetString(section, "face", builtIn.FaceName, FONT_FACE_MAX);
    return font;
}

void WriteLogFont(TProfile& profile, std::string_view section, const TLogFont& font) {
    for (const TFontField& f : FONT_FIELDS) profile.SetInt(section, f.Key, font.*f.Field);
    profile.Set(section, "face", font.FaceName.substr(0, FONT_FACE_MAX));
}

}  // namespace zorvex
