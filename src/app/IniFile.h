#pragma once

#include <QString>
#include <QStringList>

#include <stdexcept>

namespace kavel {

// Raised when a value cannot be stored; the text is "Unable to write to <path>".
class IniWriteError : public std::runtime_error {
public:
    explicit IniWriteError(const QString& path);
};

// One INI file read and written by the Windows private-profile rules: section and key names
// match without regard to case, a value is the text after the first "=", a missing file,
// section or key gives the caller's default, integers are strict decimal text and booleans are
// integers (non-zero is true). Nothing is cached: every call reads the file, and every write
// replaces it atomically (temporary file beside it, then rename) keeping all other content.
// Main thread only, like every settings access.
class IniFile {
public:
    explicit IniFile(QString path) : path_(std::move(path)) {}

    const QString& path() const { return path_; }

    QString readString(const QString& section, const QString& key, const QString& def) const;
    int readInteger(const QString& section, const QString& key, int def) const;
    bool readBool(const QString& section, const QString& key, bool def) const;
    bool sectionExists(const QString& section) const;
    bool valueExists(const QString& section, const QString& key) const;

    // Throw IniWriteError and leave the file as it was when the write is refused.
    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int value);
    void writeBool(const QString& section, const QString& key, bool value);

    // Strict decimal text as the private-profile reader accepts it: optional sign, digits,
    // nothing else; false (and *ok untouched) for anything else or out of 32-bit range.
    static bool parseInteger(const QString& text, int* value);

private:
    QString path_;
};

}  // namespace kavel
