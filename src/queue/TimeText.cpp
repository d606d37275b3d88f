#include "queue/TimeText.h"

namespace kavel {

QString FormatDuration(int64_t microseconds) {
    const int64_t seconds = microseconds / 1000000;
    const int64_t hours = seconds / 60 / 60;
    const int64_t minutes = (seconds / 60) % 60;
    const int64_t secs = seconds % 60;
    const int64_t millis = (microseconds % 1000000) * 1000 / 1000000;
    return QString::asprintf("%.2d:%.2d:%.2d.%.3d", int(hours), int(minutes), int(secs), int(millis));
}

QString FormatSeconds(int64_t seconds) {
    if (seconds < 0)
        seconds = 0;
    return QString::asprintf("%lld:%.2d:%.2d", static_cast<long long>(seconds / 3600),
                             int(seconds / 60 % 60), int(seconds % 60));
}

}  // namespace kavel
