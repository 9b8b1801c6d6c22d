// The INI text model shared by the profile readers: a file's bytes parsed into sections and keys, and
// the reading rules of integers and strings.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <cstdint>
#include <deque>
#include <vector>

// One parsed file. It keeps the text as UTF-8 and indexes names and values where they stand in it, so
// that parsing allocates nothing per entry and a lookup allocates nothing at all.
class ProfileData {
public:
    // Parses UTF-8 (with or without byte order mark) or UTF-16 text with its byte order mark (either
    // byte order). Unmarked bytes that are not valid UTF-8 are taken as Windows-1252.
    explicit ProfileData(const QByteArray& bytes);
    ProfileData(const ProfileData&) = delete;
    ProfileData& operator=(const ProfileData&) = delete;

    // The value (trimmed and unquoted UTF-8); false when the section or the key is missing. Names match
    // without regard to case; the first of equal names counts. Not for two threads at once: it
    // remembers where the last lookup ended.
    bool Find(const QString& section, const QString& key, QByteArrayView& value);

    struct EntryKey {
        uint32_t nSection;
        QByteArrayView name;  // case-folded
    };

private:
    QByteArray m_text;                     // never detached after parsing: the views point into it
    std::deque<QByteArray> m_foldedNames;  // names whose folded form differs in length (non-ASCII)
    struct Entry {
        EntryKey key;
        QByteArrayView value;
    };
    static constexpr uint32_t kSectionName = 0xFFFFFFFF;  // the "section" of the section names

    // Open addressing over the entries: a slot holds part of the name's hash and 1 + the entry's index
    // (0: free). Compact, and a probe compares names only when the hashes agree.
    struct Slot {
        uint32_t nHash;
        uint32_t nEntry;
    };
    // The entry with this key, or m_entries.size() when there is none; bAdd appends it then.
    size_t FindEntry(const EntryKey& key, QByteArrayView value, bool bAdd);

    QHash<EntryKey, uint32_t> m_sections;
    std::vector<Entry> m_entries;  // first occurrences, in file order
    std::vector<Slot> m_slots;     // a power of two, at most half full
    // Entries are mostly asked for in file order (ID0, ID1, ...), so the entry after the last one
    // found is tried before the index: the common case then walks memory in order.
    size_t m_nNext = 0;
};

bool operator==(const ProfileData::EntryKey& a, const ProfileData::EntryKey& b);
size_t qHash(const ProfileData::EntryKey& key, size_t seed = 0);

// The integer a value denotes, as Windows converts a profile value: leading blanks, an optional sign,
// then decimal digits, or hexadecimal after "0x", octal after "0o", binary after "0b" (lower-case
// prefixes only), up to the first other character, wrapped to 32 bits. Empty text gives nDefault.
uint32_t ProfileTextToInt(QByteArrayView text, int32_t nDefault);

// The text cut to nCapacity - 1 UTF-16 units, never splitting a surrogate pair; empty when the capacity
// leaves no room.
QString CutProfileText(const QString& text, int nCapacity);
