// File dialog filters: the "Label|pattern|Label|pattern||" form the logic asks with, in Qt's terms.
#pragma once

#include <QString>
#include <QStringList>

// One Qt name filter per pair, "Label (patterns)": a pattern list given as "*.a;*.b" becomes "*.a *.b",
// "*.*" (every file on the original platform) becomes "*", and a label that already ends in its
// parenthesised patterns is not repeated. An empty or malformed filter gives "All files (*)".
QStringList QtNameFilters(const QString& filter);

// The name as saved: the default extension appended when the file name has no extension of its own
// (a name ending in a dot keeps none).
QString WithDefaultExtension(const QString& path, const QString& defaultExt);
