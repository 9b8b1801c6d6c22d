// Quillon's side of the profile comparison with Windows.
//   ProfileProbe write DIR   writes the edge-case files and DIR/queries.txt, one query a line:
//                            I|S TAB file TAB section TAB key [TAB default]
//   ProfileProbe read DIR    answers each query through the file profile reader the configuration
//                            loaders use (string capacity 256, empty default), one line each:
//                            the query's first four fields TAB the value
// WinProfileProbe.exe answers the same queries through the platform's API, in the same form.
#include "config/ProfileAccess.h"
#include "platform/ProfileReader.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringEncoder>

#include <cstdio>
#include <vector>

namespace {

struct Query {
    char cKind;  // 'I' integer, 'S' string
    QByteArray section;
    QByteArray key;
    int32_t nDefault = 0;
};

struct Case {
    QByteArray name;
    QByteArray bytes;
    std::vector<Query> queries;
    bool bWrite = true;
};

const Query kFlagOffset{'I', "FlagOffset", "CHIP_0001_SUBV_12000100", 0x3000};
const Query kControllerName{'S', "ChipsetInfo", "ControllerName0"};
const Query kKnownIdsNum{'I', "KnownIDs", "Num", 0};
const Query kKnownId0{'S', "KnownIDs", "ID0"};

Case IntCase(const char* pszName, const QByteArray& value)
{
    return {pszName, "[FlagOffset]\r\nCHIP_0001_SUBV_12000100=" + value + "\r\n", {kFlagOffset}};
}

// bMark: with the UTF-8 byte order mark, for values beyond ASCII (unmarked, Windows reads the code page).
Case StrCase(const char* pszName, const QByteArray& value, bool bMark = false)
{
    return {pszName,
            (bMark ? "\xEF\xBB\xBF" : "") + ("[ChipsetInfo]\r\nControllerName0=" + value + "\r\n"),
            {kControllerName}};
}

QByteArray Utf16(const QString& text, bool bBigEndian, bool bMark)
{
    return QStringEncoder(bBigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                          bMark ? QStringConverter::Flag::WriteBom : QStringConverter::Flag::Default)(text);
}

std::vector<Case> EdgeCases()
{
    const QByteArray chipset = "[ChipsetInfo]\r\nControllerNum=1\r\nControllerName0=Z\xC3\xA4hler \xE2\x82\xAC\r\n";
    const QString chipsetText = QString::fromUtf8(chipset);
    const std::vector<Query> chipsetQueries{{'I', "ChipsetInfo", "ControllerNum", 0}, kControllerName};
    const QByteArray x255(255, 'x');
    return {
        // Integers as the loaders read counts, chipset fallbacks and per-chip settings.
        IntCase("int-decimal", "8192"),
        IntCase("int-hex", "0x2000"),
        IntCase("int-hex-upper-digits", "0x2FE3"),
        IntCase("int-hex-upper-prefix", "0X2000"),
        IntCase("int-minus-one", "-1"),
        IntCase("int-plus", "+5"),
        IntCase("int-negative-hex", "-0x10"),
        IntCase("int-trailing-letters", "12abc"),
        IntCase("int-letters", "abc"),
        IntCase("int-prefix-only", "0x"),
        IntCase("int-wrap", "4294967296"),
        IntCase("int-hex-wrap", "0x1FFFFFFFF"),
        IntCase("int-quoted-blank", "\" 0x2000\""),
        IntCase("int-quoted-blanks-only", "\"  \""),
        IntCase("int-blanks-around", "  7  "),
        IntCase("int-control-before", "\"\x1B\x01"
                                      "5\""),
        IntCase("int-blank-after-sign", "- 5"),
        IntCase("int-sign-only", "-"),
        IntCase("int-binary", "0b101"),
        IntCase("int-binary-upper", "0B101"),
        IntCase("int-binary-stops", "0b102"),
        IntCase("int-octal", "0o17"),
        IntCase("int-octal-stops", "0o19"),
        IntCase("int-leading-zero", "010"),
        IntCase("int-33-zeros", QByteArray(33, '0') + "8192"),
        IntCase("int-empty", ""),
        IntCase("int-eof-byte-inside", "12\x1A"
                                       "3"),
        {"int-no-equals", "[FlagOffset]\r\nCHIP_0001_SUBV_12000100\r\n", {kFlagOffset}},
        {"int-missing-key", "[FlagOffset]\r\nCHIP_0002_SUBV_12000100=1\r\n", {kFlagOffset}},
        // Strings as the name lists and table entries read them.
        StrCase("str-plain", "ZA1200"),
        StrCase("str-blanks-around", " \t ZA 1200 \v\f "),
        StrCase("str-double-quotes", "\"  ZA1200  \""),
        StrCase("str-single-quotes", "'ZA1200'"),
        StrCase("str-mixed-quotes", "\"ZA1200'"),
        StrCase("str-lone-quote", "\""),
        StrCase("str-empty-quotes", "\"\""),
        StrCase("str-nested-quotes", "\"\"two\"\""),
        StrCase("str-equals-inside", "a=b"),
        StrCase("str-semicolon-inside", "a ;b"),
        StrCase("str-255", x255),
        StrCase("str-300", QByteArray(300, 'x')),
        StrCase("str-quoted-255", "\"" + x255 + "\""),
        StrCase("str-quoted-256", "\"" + QByteArray(256, 'x') + "\""),
        StrCase("str-pair-at-cut", QByteArray(254, 'a') + "\xF0\x9F\x98\x80", true),
        StrCase("str-nul-inside", QByteArray("ab\0cd", 5)),
        StrCase("str-nul-inside-quotes", QByteArray("\"ab\0cd\"", 7)),
        StrCase("str-eof-byte", "ZA1200\x1A"),
        StrCase("str-eof-byte-after-quote", "\"ZA \"\x1A"),
        StrCase("str-no-break-space", "\xC2\xA0ZA\xC2\xA0", true),
        StrCase("str-controls-around", "\x1C\x01ZA\x1F"),
        StrCase("str-empty", ""),
        {"str-no-equals", "[ChipsetInfo]\r\nControllerName0\r\n", {kControllerName}},
        // Encodings.
        {"enc-utf8-mark", "\xEF\xBB\xBF" + chipset, chipsetQueries},
        {"enc-utf8-unmarked", chipset, chipsetQueries},
        {"enc-cp1252", "[ChipsetInfo]\r\nControllerName0=caf\xE9 \x80\x81\x8D\x9F\xA0\xFF\r\n", {kControllerName}},
        {"enc-utf16le-mark", Utf16(chipsetText, false, true), chipsetQueries},
        {"enc-utf16be-mark", Utf16(chipsetText, true, true), chipsetQueries},
        {"enc-utf16le-unmarked", Utf16(chipsetText, false, false), chipsetQueries},
        {"enc-utf16le-odd-length", Utf16(chipsetText, false, true) + "\x41", chipsetQueries},
        // Sections, keys, comments, blanks and line ends.
        {"names-letter-case", "[knownids]\r\nNUM=2\r\nid0=1, 2, 3\r\n", {kKnownIdsNum, kKnownId0}},
        {"names-non-ascii-case",
         "\xEF\xBB\xBF[Chipset\xC3\xBC]\r\nControllerNum=3\r\n",
         {{'I', "CHIPSET\xC3\x9C", "ControllerNum", 0}, {'I', "chipset\xC3\xBC", "controllernum", 0}}},
        {"names-sharp-s",
         "\xEF\xBB\xBF[Stra\xC3\x9F"
         "e]\r\nNum=3\r\n",
         {{'I', "STRASSE", "Num", 0},
          {'I',
           "STRA\xC3\x9F"
           "E",
           "num", 0}}},
        {"dup-keys", "[KnownIDs]\r\nNum=2\r\nnum=9\r\n", {kKnownIdsNum}},
        {"dup-sections",
         "[KnownIDs]\r\nNum=2\r\n[Other]\r\n[KNOWNIDS]\r\nID0=1, 2, 3\r\nNum=7\r\n",
         {kKnownIdsNum, kKnownId0}},
        {"comment-line", "[KnownIDs]\r\n;Num=5\r\n  ; ID0=1, 2, 3\r\n", {kKnownIdsNum, kKnownId0}},
        {"keys-before-section", "Num=3\r\n[KnownIDs]\r\nID0=1\r\n", {kKnownIdsNum, kKnownId0}},
        {"section-blanks", "  [ KnownIDs ]  \r\nNum=2\r\n", {kKnownIdsNum}},
        {"section-text-after",
         "[KnownIDs] ; ids\r\nNum=2\r\n[FlagOffset]x]\r\nCHIP_0001_SUBV_12000100=5\r\n",
         {kKnownIdsNum, kFlagOffset, {'I', "FlagOffset]x", "CHIP_0001_SUBV_12000100", 0x3000}}},
        {"section-unclosed", "[KnownIDs\r\nNum=2\r\n", {kKnownIdsNum, {'I', "KnownIDs", "[KnownIDs", -1}}},
        {"key-blanks", "[KnownIDs]\r\n  Num  =  2  \r\n\tID0\t=\t1, 2\t\r\n", {kKnownIdsNum, kKnownId0}},
        {"blank-lines", "\r\n   \r\n[KnownIDs]\r\n\r\n \t \r\nNum=2\r\n\r\n", {kKnownIdsNum}},
        {"line-ends-lf", "[KnownIDs]\nNum=2\nID0=1, 2\n", {kKnownIdsNum, kKnownId0}},
        {"line-ends-cr", "[KnownIDs]\rNum=2\rID0=1, 2\r", {kKnownIdsNum, kKnownId0}},
        {"line-ends-mixed", "[KnownIDs]\r\r\nNum=2\n\rID0=1, 2", {kKnownIdsNum, kKnownId0}},
        {"eof-byte-line", "[KnownIDs]\r\nNum=2\r\n\x1A\r\nID0=1, 2\r\n\x1A", {kKnownIdsNum, kKnownId0}},
        {"eof-byte-names", "[KnownIDs\x1A]\r\n\x1ANum\x1A=2\r\n", {kKnownIdsNum}},
        {"empty-file", "", {kKnownIdsNum, kControllerName}},
        {"missing-file", "", {kKnownIdsNum, kControllerName}, false},
    };
}

bool WriteCases(const QDir& dir)
{
    QFile queries(dir.filePath(QStringLiteral("queries.txt")));
    if (!dir.mkpath(QStringLiteral(".")) || !queries.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (const Case& c : EdgeCases()) {
        const QByteArray file = c.name + ".ini";
        QFile out(dir.filePath(QString::fromUtf8(file)));
        if (c.bWrite && (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(c.bytes) != c.bytes.size()))
            return false;
        for (const Query& q : c.queries) {
            queries.write(QByteArray(1, q.cKind) + '\t' + file + '\t' + q.section + '\t' + q.key);
            if (q.cKind == 'I')
                queries.write('\t' + QByteArray::number(q.nDefault));
            queries.write("\n");
        }
    }
    return queries.flush();
}

// Printable ASCII as it is, a backslash and every other UTF-16 unit as \uXXXX.
QByteArray Escaped(const QString& text)
{
    QByteArray out;
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F && c != u'\\')
            out += static_cast<char>(c.unicode());
        else
            out += "\\u" + QByteArray::number(c.unicode(), 16).rightJustified(4, '0');
    }
    return out;
}

bool ReadCases(const QDir& dir)
{
    QFile queries(dir.filePath(QStringLiteral("queries.txt")));
    if (!queries.open(QIODevice::ReadOnly))
        return false;
    const auto pReader = CreateFileProfileReader();
    while (!queries.atEnd()) {
        const QByteArray line = queries.readLine().trimmed();
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() < 4)
            continue;
        const QString path = dir.absoluteFilePath(QString::fromUtf8(fields[1]));
        const QString section = QString::fromUtf8(fields[2]);
        const QString key = QString::fromUtf8(fields[3]);
        QByteArray answer;
        if (fields[0] == "I")
            answer = QByteArray::number(
                pReader->GetPrivateProfileInt(section, key, fields.size() > 4 ? fields[4].toInt() : 0, path));
        else
            answer = Escaped(pReader->GetPrivateProfileString(section, key, QString(), kProfileStringCapacity, path));
        const QByteArray out = fields.mid(0, 4).join('\t') + '\t' + answer + '\n';
        std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
    }
    return std::fflush(stdout) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const QByteArray mode = argc == 3 ? QByteArray(argv[1]) : QByteArray();
    const QDir dir(QString::fromLocal8Bit(argv[argc - 1]));
    if (mode == "write")
        return WriteCases(dir) ? 0 : 1;
    if (mode == "read")
        return ReadCases(dir) ? 0 : 1;
    std::fprintf(stderr, "usage: ProfileProbe write|read DIR\n");
    return 2;
}
