// File names are bytes on this system, and need not be UTF-8. A path keeps its exact bytes through a
// QString: a byte that is not part of valid UTF-8 becomes the lone code unit 0xDC00 + byte (which valid
// text never holds alone) and turns back into that byte on the way out.
#pragma once

#include <QByteArray>
#include <QString>
#include <string>

QString PathFromNative(const QByteArray& bytes);
QString PathFromNative(const std::string& bytes);
QByteArray PathToNative(const QString& path);

// The text as UTF-8 for a terminal, a log or JSON: each byte that a path could not carry as text is
// written "\xNN".
std::string PrintableText(const QString& text);
std::string PrintablePath(const std::string& bytes);
