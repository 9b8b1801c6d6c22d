#include "platform/qt/FileFilter.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

QString QtPatterns(const QString& patterns)
{
    QStringList parts;
    for (const QString& raw : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString pattern = raw.trimmed();
        if (pattern.isEmpty())
            continue;
        parts << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
    }
    parts.removeDuplicates();
    return parts.join(QLatin1Char(' '));
}

}  // namespace

QStringList QtNameFilters(const QString& filter)
{
    static const QRegularExpression kTrailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    QStringList result;
    const QStringList fields = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        QString label = fields[i].trimmed();
        const QString patterns = QtPatterns(fields[i + 1]);
        if (label.isEmpty() || patterns.isEmpty())
            break;  // the "||" that ends the list, or a broken pair
        label.remove(kTrailingPatterns);
        result << QStringLiteral("%1 (%2)").arg(label, patterns);
    }
    if (result.isEmpty())
        result << QStringLiteral("All files (*)");
    return result;
}

QString WithDefaultExtension(const QString& path, const QString& defaultExt)
{
    QString ext = defaultExt.trimmed();
    while (ext.startsWith(QLatin1Char('.')))
        ext.remove(0, 1);
    if (path.isEmpty() || ext.isEmpty())
        return path;
    const QFileInfo info(path);
    // A name ending in a dot asks for no extension at all.
    if (!info.suffix().isEmpty() || info.fileName().isEmpty() || path.endsWith(QLatin1Char('.')))
        return path;
    return path + QLatin1Char('.') + ext;
}
