#include "engine/OptionText.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "engine/FFmpegException.h"

namespace kavel {

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

char LowerChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

template <typename T>
T ParseWhole(const std::string& text, const char* kind) {
    const std::string trimmed = TrimText(text);
    T value{};
    const char* begin = trimmed.data();
    const char* end = begin + trimmed.size();
    // The platform's conversion accepts a leading "+".
    if (begin != end && *begin == '+' && end - begin > 1 && begin[1] != '-')
        ++begin;
    auto [pointer, error] = std::from_chars(begin, end, value);
    if (trimmed.empty() || error != std::errc() || pointer != end)
        throw FFmpegException("'" + text + "' is not a valid " + kind + " value");
    return value;
}

}  // namespace

std::string TrimText(std::string_view text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return std::string(text.substr(first, last - first));
}

std::string LowerText(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = LowerChar(c);
    return result;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerChar(a[i]) != LowerChar(b[i]))
            return false;
    return true;
}

std::string NormaliseLineBreaks(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            result += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

int ParseInteger(const std::string& text) {
    return ParseWhole<int>(text, "integer");
}

int64_t ParseInteger64(const std::string& text) {
    return ParseWhole<int64_t>(text, "integer");
}

double ParseFloat(const std::string& text) {
    const std::string trimmed = TrimText(text);
    char* end = nullptr;
    errno = 0;
    const double value = trimmed.empty() ? 0.0 : std::strtod(trimmed.c_str(), &end);
    // strtod also reads hexadecimal numbers, "inf" and "nan", which are no decimal texts.
    bool decimal = !trimmed.empty();
    for (char c : trimmed)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            decimal = false;
    if (!decimal || end != trimmed.c_str() + trimmed.size() || errno == ERANGE)
        throw FFmpegException("'" + text + "' is not a valid floating point value");
    return value;
}

}  // namespace kavel
