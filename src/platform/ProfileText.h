// The INI text model shared by the profile readers: parsing a file's bytes into sections and keys,
// and the reading rules of integers and strings.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <cstdint>

// Sections and keys under their case-folded names; the first of equal names wins.
struct ProfileData {
    QHash<QString, QHash<QString, QString>> sections;

    // Null when the section or the key is missing.
    const QString* Find(const QString& section, const QString& key) const;
};

// Parses UTF-8 (with or without byte order mark) or UTF-16LE text with its byte order mark. Bytes that
// are not valid UTF-8 are taken as Latin-1, so that nothing is lost.
ProfileData ParseProfileText(const QByteArray& bytes);

// The integer a value denotes: optional sign, then decimal digits or hexadecimal digits after "0x" or
// "0X", up to the first other character, wrapped to 32 bits. Empty text gives nDefault.
uint32_t ProfileTextToInt(const QString& text, int32_t nDefault);

// The text cut to nCapacity - 1 UTF-16 units, never splitting a surrogate pair; empty when the capacity
// leaves no room.
QString CutProfileText(const QString& text, int nCapacity);
