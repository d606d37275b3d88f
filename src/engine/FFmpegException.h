#pragma once

#include <stdexcept>

namespace kavel {

// The engine's error: raised inside the transcoder, the option parser and the engine component,
// caught at the component's boundary. The message is all it carries.
class FFmpegException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace kavel
