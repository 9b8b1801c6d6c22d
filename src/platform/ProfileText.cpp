#include "platform/ProfileText.h"

#include <QStringDecoder>
#include <QVarLengthArray>

#include <cstring>

namespace {

// 0x1A ends a file in old DOS text; Windows takes it for a blank wherever it stands.
bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A';
}

QByteArrayView Trim(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

// A value ends at a zero character, as the platform's zero-terminated text does; quotes count only
// when the closing one comes before it.
QByteArrayView Unquote(QByteArrayView text)
{
    if (const qsizetype nul = text.indexOf('\0'); nul >= 0)
        text = text.first(nul);
    if (text.size() >= 2 && text.front() == text.back() && (text.front() == '"' || text.front() == '\''))
        return text.sliced(1, text.size() - 2);
    return text;
}

// The value of a digit in any base up to 36; -1 for anything else.
int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return -1;
}

// Well-formed UTF-8 as far as the byte structure goes (lead bytes and their continuation bytes).
bool IsUtf8(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto* pEnd = p + bytes.size();
    while (p < pEnd) {
        const uint8_t lead = *p++;
        int nFollow = 0;
        if (lead < 0x80)
            continue;
        if (lead >= 0xC2 && lead <= 0xDF)
            nFollow = 1;
        else if (lead >= 0xE0 && lead <= 0xEF)
            nFollow = 2;
        else if (lead >= 0xF0 && lead <= 0xF4)
            nFollow = 3;
        else
            return false;
        if (pEnd - p < nFollow)
            return false;
        for (; nFollow > 0; --nFollow) {
            if ((*p++ & 0xC0) != 0x80)
                return false;
        }
    }
    return true;
}

// Windows-1252, the Western code page: Latin-1 but for these characters at 0x80 to 0x9F (the five
// it leaves undefined keep their own code).
constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString FromCp1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    char16_t* p = reinterpret_cast<char16_t*>(text.data());
    for (const char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        *p++ = b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b;
    }
    return text;
}

QByteArray ToUtf8Text(const QByteArray& bytes)
{
    const bool bLittle = bytes.startsWith("\xFF\xFE");
    if (bLittle || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(bLittle ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
                               QStringConverter::Flag::Default);
        return QString(decoder.decode(QByteArrayView(bytes).sliced(2))).toUtf8();
    }
    QByteArray text = bytes.startsWith("\xEF\xBB\xBF") ? bytes.sliced(3) : bytes;
    if (IsUtf8(text))
        return text;
    return FromCp1252(text).toUtf8();
}

// Lower-cases ASCII in place; false (nothing changed) when the name holds other characters.
bool FoldAsciiInPlace(char* p, qsizetype n)
{
    for (qsizetype i = 0; i < n; ++i) {
        if (static_cast<unsigned char>(p[i]) >= 0x80)
            return false;
    }
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] >= 'A' && p[i] <= 'Z')
            p[i] = static_cast<char>(p[i] + 32);
    }
    return true;
}

// Letter case folded one character at a time, as the platform compares names: a sharp s stays one
// letter and so does not match "SS".
QByteArray FoldCharacters(const QString& name)
{
    QString folded;
    folded.reserve(name.size());
    for (const char32_t c : name.toUcs4()) {
        const char32_t f = QChar::toCaseFolded(c);
        folded += QString::fromUcs4(&f, 1);
    }
    return folded.toUtf8();
}

// A requested name in the folded form the index holds.
using NameBuffer = QVarLengthArray<char, 256>;

QByteArrayView FoldRequested(const QString& name, NameBuffer& buffer)
{
    buffer.resize(name.size());
    const char16_t* p = reinterpret_cast<const char16_t*>(name.utf16());
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (p[i] >= 0x80) {
            const QByteArray folded = FoldCharacters(name);
            buffer.resize(folded.size());
            std::memcpy(buffer.data(), folded.constData(), static_cast<size_t>(folded.size()));
            return QByteArrayView(buffer.data(), buffer.size());
        }
        buffer[i] = (p[i] >= u'A' && p[i] <= u'Z') ? static_cast<char>(p[i] + 32) : static_cast<char>(p[i]);
    }
    return QByteArrayView(buffer.data(), buffer.size());
}

}  // namespace

bool operator==(const ProfileData::EntryKey& a, const ProfileData::EntryKey& b)
{
    return a.nSection == b.nSection && a.name.size() == b.name.size() &&
           std::memcmp(a.name.data(), b.name.data(), static_cast<size_t>(a.name.size())) == 0;
}

// A plain multiply-and-mix hash of the name words: names are short and come from a local file, and
// Qt's own byte hash costs several times more per lookup here.
size_t qHash(const ProfileData::EntryKey& key, size_t seed)
{
    const char* p = key.name.data();
    size_t n = static_cast<size_t>(key.name.size());
    uint64_t h = (seed ^ key.nSection ^ (n << 32)) * 0x9E3779B97F4A7C15ull;
    for (; n >= 8; n -= 8, p += 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        h = (h ^ word) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, p, n);
    h = (h ^ tail) * 0x94D049BB133111EBull;
    return static_cast<size_t>(h ^ (h >> 29));
}

ProfileData::ProfileData(const QByteArray& bytes) : m_text(ToUtf8Text(bytes))
{
    char* pText = m_text.data();  // detaches now, before any view is taken
    const qsizetype nText = m_text.size();
    // Lines end at "\n", "\r\n" or a lone "\r"; each holds at most one entry.
    qsizetype nLines = 1;
    for (qsizetype i = 0; i < nText; ++i)
        nLines += pText[i] == '\n' || (pText[i] == '\r' && (i + 1 == nText || pText[i + 1] != '\n'));
    m_entries.reserve(static_cast<size_t>(nLines));
    size_t nSlots = 16;
    while (nSlots < 2 * static_cast<size_t>(nLines))
        nSlots *= 2;
    m_slots.assign(nSlots, Slot{0, 0});

    // Folds the name where it stands, or keeps a folded copy when its length changes.
    auto foldName = [this](QByteArrayView name) -> QByteArrayView {
        char* p = const_cast<char*>(name.data());
        if (FoldAsciiInPlace(p, name.size()))
            return name;
        m_foldedNames.push_back(FoldCharacters(QString::fromUtf8(name)));
        return QByteArrayView(m_foldedNames.back());
    };

    bool bInSection = false;  // lines before the first section and in a repeated one are not read
    uint32_t nSection = 0;
    qsizetype pos = 0;
    while (pos < nText) {
        qsizetype end = pos;
        while (end < nText && pText[end] != '\n' && pText[end] != '\r')
            ++end;
        const QByteArrayView line = Trim(QByteArrayView(pText + pos, end - pos));
        pos = end + 1;
        if (line.isEmpty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const qsizetype close = line.lastIndexOf(']');
            if (close > 0) {
                const QByteArrayView name = foldName(Trim(line.sliced(1, close - 1)));
                // A repeated section adds nothing: its keys stay unreachable behind the first one.
                const EntryKey sectionKey{kSectionName, name};
                bInSection = !m_sections.contains(sectionKey);
                if (bInSection) {
                    nSection = static_cast<uint32_t>(m_sections.size());
                    m_sections.insert(sectionKey, nSection);
                }
                continue;
            }
        }
        if (!bInSection)
            continue;
        const qsizetype equals = line.indexOf('=');
        const QByteArrayView key = foldName(equals < 0 ? line : Trim(line.first(equals)));
        const QByteArrayView value = equals < 0 ? QByteArrayView() : Unquote(Trim(line.sliced(equals + 1)));
        FindEntry(EntryKey{nSection, key}, value, true);
    }
}

bool ProfileData::Find(const QString& section, const QString& key, QByteArrayView& value)
{
    NameBuffer sectionBuffer;
    auto itSection = m_sections.constFind(EntryKey{kSectionName, FoldRequested(section, sectionBuffer)});
    if (itSection == m_sections.constEnd())
        return false;
    NameBuffer keyBuffer;
    const EntryKey wanted{itSection.value(), FoldRequested(key, keyBuffer)};
    size_t nFound = m_nNext;
    if (nFound >= m_entries.size() || !(m_entries[nFound].key == wanted)) {
        nFound = FindEntry(wanted, QByteArrayView(), false);
        if (nFound == m_entries.size())
            return false;
    }
    m_nNext = nFound + 1;
    value = m_entries[nFound].value;
    return true;
}

size_t ProfileData::FindEntry(const EntryKey& key, QByteArrayView value, bool bAdd)
{
    const size_t nHash = qHash(key, 0);
    const auto nTag = static_cast<uint32_t>(nHash >> 32);
    const size_t nMask = m_slots.size() - 1;
    for (size_t nPos = nHash & nMask;; nPos = (nPos + 1) & nMask) {
        Slot& slot = m_slots[nPos];
        if (slot.nEntry == 0) {
            if (!bAdd)
                return m_entries.size();
            m_entries.push_back(Entry{key, value});
            slot = Slot{nTag, static_cast<uint32_t>(m_entries.size())};
            return m_entries.size() - 1;
        }
        if (slot.nHash == nTag && m_entries[slot.nEntry - 1].key == key)
            return slot.nEntry - 1;
    }
}

uint32_t ProfileTextToInt(QByteArrayView text, int32_t nDefault)
{
    if (text.isEmpty())
        return static_cast<uint32_t>(nDefault);
    qsizetype i = 0;
    const qsizetype n = text.size();
    // Blanks and control characters (a quoted value may begin with them), one sign, a prefix.
    while (i < n && static_cast<uint8_t>(text[i]) <= ' ')
        ++i;
    bool bNegative = false;
    if (i < n && (text[i] == '-' || text[i] == '+'))
        bNegative = text[i++] == '-';
    uint32_t nBase = 10;
    if (i + 1 < n && text[i] == '0') {
        const char prefix = text[i + 1];
        nBase = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
        if (nBase != 10)
            i += 2;
    }
    uint32_t nValue = 0;
    for (; i < n; ++i) {
        const int nDigit = DigitValue(text[i]);
        if (nDigit < 0 || static_cast<uint32_t>(nDigit) >= nBase)
            break;
        nValue = nValue * nBase + static_cast<uint32_t>(nDigit);
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
