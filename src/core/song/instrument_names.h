#pragma once

#include <array>
#include <string_view>

namespace zentrowe::song {

extern const std::array<std::string_view, 128> kInstrumentNames;
extern const std::array<std::string_view, 16> kFamilyNames;

// What a Program Change on the percussion channel (channel nibble 9) shows, whatever the program.
inline constexpr std::string_view kDrumFamily = "打击乐器";
inline constexpr std::string_view kDrumInstrument = "Drums 鼓";

}  // namespace zentrowe::song
