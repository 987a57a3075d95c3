// The values of a scribble map (the stroke map the brush paints into and the
// accumulated map the corrections read): what the viewer draws, the phantom
// writes and the correction stages act on.
#pragma once

#include <cstdint>

namespace volume::scribble {
inline constexpr std::int16_t kNone = 0;         // no scribble / erased
inline constexpr std::int16_t kShownAsFore = 1;  // drawn like foreground, ignored by corrections
inline constexpr std::int16_t kForeground = 2;   // inside the organ
inline constexpr std::int16_t kBackground = 3;   // outside the organ
}  // namespace volume::scribble
