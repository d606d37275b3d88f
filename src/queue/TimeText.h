#pragma once

#include <QString>

#include <cstdint>

namespace kavel {

// Microseconds as "HH:MM:SS.mmm"; hours are not wrapped at 24 and division truncates toward 0.
QString FormatDuration(int64_t microseconds);
// Seconds as "H:MM:SS" with unpadded hours; a negative value counts as 0.
QString FormatSeconds(int64_t seconds);

}  // namespace kavel
