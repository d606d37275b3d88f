#include "cli/InfoCommand.h"

#include "probe/MediaProbe.h"

namespace kavel {

namespace {

// The probe's texts name the file in most failures ("NAME: reason"); the others get it here.
std::string FailureLine(const std::string& file, const std::string& reason) {
    const bool named = reason.compare(0, file.size() + 1, file + ":") == 0;
    return "kavel-convert: " + (named ? reason : file + ": " + reason);
}

}  // namespace

int RunInfo(const std::vector<std::string>& files, std::ostream& out, std::ostream& errors) {
    int status = 0;
    bool first = true;
    MediaProbe probe;
    for (const std::string& file : files) {
        if (!probe.LoadFile(file)) {
            errors << FailureLine(file, probe.LastErrMsg()) << '\n';
            status = 1;
            continue;
        }
        if (!first) {
            out << '\n';
        }
        first = false;
        out << probe.Description();
        probe.Close();
    }
    out.flush();
    return status;
}

}  // namespace kavel
