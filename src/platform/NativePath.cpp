#include "platform/NativePath.h"

#include <cstdio>

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool IsContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence at p (at most nLeft bytes), 0 when there is none.
int ValidSequence(const unsigned char* p, size_t nLeft)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    int nLength = 0;
    unsigned char nMin = 0x80, nMax = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF)
        nLength = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        nLength = 3;
        if (c == 0xE0)
            nMin = 0xA0;  // no overlong forms
        if (c == 0xED)
            nMax = 0x9F;  // no encoded surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        nLength = 4;
        if (c == 0xF0)
            nMin = 0x90;
        if (c == 0xF4)
            nMax = 0x8F;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (static_cast<size_t>(nLength) > nLeft || p[1] < nMin || p[1] > nMax)
        return 0;
    for (int i = 2; i < nLength; ++i)
        if (!IsContinuation(p[i]))
            return 0;
    return nLength;
}

bool IsEscapedByte(const QString& text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF && (i == 0 || !text[i - 1].isHighSurrogate());
}

}  // namespace

QString PathFromNative(const QByteArray& bytes)
{
    QString path;
    path.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const size_t nSize = static_cast<size_t>(bytes.size());
    for (size_t i = 0; i < nSize;) {
        const int nLength = ValidSequence(p + i, nSize - i);
        if (nLength == 0) {
            path.append(QChar(static_cast<char16_t>(kEscapeBase + p[i])));
            ++i;
            continue;
        }
        path.append(QString::fromUtf8(reinterpret_cast<const char*>(p + i), nLength));
        i += static_cast<size_t>(nLength);
    }
    return path;
}

QString PathFromNative(const std::string& bytes)
{
    return PathFromNative(QByteArray::fromStdString(bytes));
}

QByteArray PathToNative(const QString& path)
{
    QByteArray bytes;
    qsizetype nStart = 0;
    for (qsizetype i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !IsEscapedByte(path, i))
            continue;
        bytes.append(path.mid(nStart, i - nStart).toUtf8());
        if (i < path.size())
            bytes.append(static_cast<char>(path[i].unicode() - kEscapeBase));
        nStart = i + 1;
    }
    return bytes;
}

std::string PrintableText(const QString& text)
{
    std::string out;
    qsizetype nStart = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !IsEscapedByte(text, i))
            continue;
        out += text.mid(nStart, i - nStart).toStdString();
        if (i < text.size()) {
            char sz[8];
            std::snprintf(sz, sizeof sz, "\\x%02x", static_cast<unsigned>(text[i].unicode() - kEscapeBase));
            out += sz;
        }
        nStart = i + 1;
    }
    return out;
}

std::string PrintablePath(const std::string& bytes)
{
    return PrintableText(PathFromNative(bytes));
}
