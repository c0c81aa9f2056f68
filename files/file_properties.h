#pragma once

#include <QString>

#include <cstdint>
#include <ctime>

namespace zapfer {

// What the File Properties dialog shows of one FileList entry. Links are
// followed: the dialog describes what the row stands for.
struct FileProperties {
    bool found = false; // false: every value stays "Unavailable", nothing is applied
    QString name;
    bool folder = false;
    int64_t size = 0;  // 0 for a folder
    uint32_t mode = 0; // permission bits as found
    bool hasBirthTime = false;
    struct timespec created {};
    struct timespec modified {};
    struct timespec accessed {};

    // No write permission bit for anyone.
    bool readOnly() const { return (mode & 0222) == 0; }
    // A name starting with "." is hidden on Linux; it cannot be switched.
    bool hidden() const { return name.startsWith(QLatin1Char('.')); }
};

// Reads `name` in `curDir` ("My Computer" rows: `curDir` empty, `name` the
// mount point).
FileProperties readFileProperties(const QString& curDir, const QString& name);

QString sizeText(const FileProperties& properties); // "%d Bytes", all 64 bits
// "%02d/%02d/%04d %02d:%02d:%02d" in local time: month, day, year, hour,
// minute, second.
QString timeText(const struct timespec& time);
QString createdText(const FileProperties& properties); // "Unavailable" without a birth time
QString unavailableText();

// Applies the Readonly box when it differs from what was read: setting it
// removes every write bit, clearing it gives the owner the write bit back.
// True when nothing needed changing or the change was made.
bool applyReadOnly(const QString& curDir, const FileProperties& properties, bool readOnly);

} // namespace zapfer
