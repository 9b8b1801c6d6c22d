#include "platform/ProfileText.h"

#include <QStringDecoder>

namespace {

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

QStringView Trim(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

QStringView Unquote(QStringView text)
{
    if (text.size() >= 2 && text.front() == text.back() && (text.front() == u'"' || text.front() == u'\''))
        return text.mid(1, text.size() - 2);
    return text;
}

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

QString DecodeText(const QByteArray& bytes)
{
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder decoder(QStringConverter::Utf16LE, QStringConverter::Flag::Default);
        return decoder.decode(QByteArrayView(bytes).sliced(2));
    }
    QByteArrayView body(bytes);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        body = body.sliced(3);
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(body);
    if (decoder.hasError())
        return QString::fromLatin1(body);
    return text;
}

}  // namespace

const QString* ProfileData::Find(const QString& section, const QString& key) const
{
    auto itSection = sections.constFind(section.toCaseFolded());
    if (itSection == sections.constEnd())
        return nullptr;
    auto itKey = itSection->constFind(key.toCaseFolded());
    if (itKey == itSection->constEnd())
        return nullptr;
    return &itKey.value();
}

ProfileData ParseProfileText(const QByteArray& bytes)
{
    ProfileData data;
    const QString text = DecodeText(bytes);
    QStringView all(text);
    QHash<QString, QString>* pSection = nullptr;   // lines before the first section belong to none

    qsizetype pos = 0;
    while (pos < all.size()) {
        qsizetype end = pos;
        while (end < all.size() && all[end] != u'\n' && all[end] != u'\r')
            ++end;
        QStringView line = Trim(all.mid(pos, end - pos));
        pos = end + 1;
        if (line.isEmpty() || line.front() == u';')
            continue;
        if (line.front() == u'[') {
            qsizetype close = line.lastIndexOf(u']');
            if (close > 0) {
                QString name = Trim(line.mid(1, close - 1)).toString().toCaseFolded();
                // A repeated section adds nothing: its keys stay unreachable behind the first one.
                pSection = data.sections.contains(name) ? nullptr : &data.sections[name];
                continue;
            }
        }
        if (!pSection)
            continue;
        qsizetype equals = line.indexOf(u'=');
        QStringView key = equals < 0 ? line : Trim(line.left(equals));
        QStringView value = equals < 0 ? QStringView() : Unquote(Trim(line.mid(equals + 1)));
        QString folded = key.toString().toCaseFolded();
        if (!pSection->contains(folded))
            pSection->insert(folded, value.toString());
    }
    return data;
}

uint32_t ProfileTextToInt(const QString& text, int32_t nDefault)
{
    if (text.isEmpty())
        return static_cast<uint32_t>(nDefault);
    const char16_t* p = reinterpret_cast<const char16_t*>(text.utf16());   // zero-terminated
    bool bNegative = false;
    if (*p == u'-' || *p == u'+')
        bNegative = *p++ == u'-';
    uint32_t nValue = 0;
    if (p[0] == u'0' && (p[1] == u'x' || p[1] == u'X')) {
        for (p += 2; HexDigit(*p) >= 0; ++p)
            nValue = nValue * 16u + static_cast<uint32_t>(HexDigit(*p));
    } else {
        for (; *p >= u'0' && *p <= u'9'; ++p)
            nValue = nValue * 10u + static_cast<uint32_t>(*p - u'0');
    }
    return bNegative ? 0u - nValue : nValue;
}

QString CutProfileText(const QString& text, int nCapacity)
{
    if (nCapacity <= 1)
        return QString();
    qsizetype nKeep = nCapacity - 1;
    if (text.size() <= nKeep)
        return text;
    if (text[nKeep - 1].isHighSurrogate())
        --nKeep;
    return text.left(nKeep);
}
