#include "app/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>

namespace kavel {

namespace {


// The file as lines without their endings, and whether it used CR LF so a rewrite keeps it.
struct IniText {
    QStringList lines;
    bool crlf = false;
};

IniText LoadText(const QString& path) {
    IniText result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QString text = QString::fromUtf8(file.readAll());
    result.crlf = text.contains(QLatin1String("\r\n"));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    result.lines = lines;
    return result;
}

// "[name]" with blanks allowed around; returns the name or a null string.
QString SectionName(const QString& line) {
    const QString trimmed = line.trimmed();
    if (trimmed.size() < 2 || !trimmed.startsWith(QLatin1Char('[')))
        return {};
    const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
    if (close < 0)
        return {};
    return trimmed.mid(1, close - 1).trimmed();
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Key of a "key=value" line, or a null string for comments and lines without "=".
QString KeyOf(const QString& line, QString* value) {
    const QString trimmed = line.trimmed();
    if (trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('[')))
        return {};
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return {};
    if (value)
        *value = line.mid(eq + 1);
    return line.left(eq).trimmed();
}

// Index range [begin, end) of the lines of a section's body, begin = -1 when absent.
struct SectionRange {
    int header = -1;
    int end = -1;
};

SectionRange FindSection(const QStringList& lines, const QString& section) {
    SectionRange range;
    for (int i = 0; i < lines.size(); ++i) {
        const QString name = SectionName(lines[i]);
        if (name.isNull())
            continue;
        if (range.header >= 0) {
            range.end = i;
            return range;
        }
        if (SameName(name, section))
            range.header = i;
    }
    if (range.header >= 0)
        range.end = int(lines.size());
    return range;
}

bool FindValue(const QString& path, const QString& section, const QString& key, QString* value) {
    const IniText text = LoadText(path);
    const SectionRange range = FindSection(text.lines, section);
    if (range.header < 0)
        return false;
    for (int i = range.header + 1; i < range.end; ++i) {
        QString found;
        const QString name = KeyOf(text.lines[i], &found);
        if (!name.isNull() && SameName(name, key)) {
            if (value)
                *value = found;
            return true;
        }
    }
    return false;
}

bool ReadOnlyFile(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    // Checked on the mode bits so that a read-only file stays unwritten even for root.
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

IniWriteError::IniWriteError(const QString& path)
    : std::runtime_error(QStringLiteral("Unable to write to %1").arg(path).toStdString()) {}

bool IniFile::parseInteger(const QString& text, int* value) {
    if (text.isEmpty())
        return false;
    qsizetype i = 0;
    if (text[0] == QLatin1Char('-') || text[0] == QLatin1Char('+'))
        i = 1;
    if (i == text.size())
        return false;
    for (qsizetype j = i; j < text.size(); ++j) {
        if (text[j] < QLatin1Char('0') || text[j] > QLatin1Char('9'))
            return false;
    }
    bool ok = false;
    const int parsed = text.toInt(&ok, 10);
    if (!ok)
        return false;
    *value = parsed;
    return true;
}

QString IniFile::readString(const QString& section, const QString& key, const QString& def) const {
    QString value;
    return FindValue(path_, section, key, &value) ? value : def;
}

int IniFile::readInteger(const QString& section, const QString& key, int def) const {
    QString text;
    int value = def;
    if (FindValue(path_, section, key, &text) && parseInteger(text, &value))
        return value;
    return def;
}

bool IniFile::readBool(const QString& section, const QString& key, bool def) const {
    return readInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::sectionExists(const QString& section) const {
    return FindSection(LoadText(path_).lines, section).header >= 0;
}

bool IniFile::valueExists(const QString& section, const QString& key) const {
    return FindValue(path_, section, key, nullptr);
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value) {
    IniText text = LoadText(path_);
    const QString entry = key + QLatin1Char('=') + value;
    const SectionRange range = FindSection(text.lines, section);
    if (range.header < 0) {
        text.lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        text.lines.append(entry);
    } else {
        int replace = -1;
        int lastEntry = range.header;
        for (int i = range.header + 1; i < range.end; ++i) {
            const QString name = KeyOf(text.lines[i], nullptr);
            if (!text.lines[i].trimmed().isEmpty())
                lastEntry = i;
            if (!name.isNull() && SameName(name, key)) {
                replace = i;
                break;
            }
        }
        if (replace >= 0) {
            // The stored spelling of the key stays; only the value changes.
            const QString oldKey = text.lines[replace].left(text.lines[replace].indexOf('='));
            text.lines[replace] = oldKey + QLatin1Char('=') + value;
        } else {
            text.lines.insert(lastEntry + 1, entry);
        }
    }

    if (ReadOnlyFile(path_))
        throw IniWriteError(path_);
    const QFileInfo info(path_);
    if (!QDir().mkpath(info.absolutePath()))
        throw IniWriteError(path_);
    QSaveFile file(path_);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw IniWriteError(path_);
    const QString eol = text.crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    const QByteArray bytes = (text.lines.join(eol) + eol).toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw IniWriteError(path_);
}

void IniFile::writeInteger(const QString& section, const QString& key, int value) {
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString& section, const QString& key, bool value) {
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

}  // namespace kavel
