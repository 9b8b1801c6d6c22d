#include "platform/qt/DialogUnits.h"

#include "platform/DialogTemplate.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>

namespace {

// Rounds a * b / c to the nearest integer, as the dialog manager does.
int MulDivRound(int a, int b, int c)
{
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

QFont DialogFont(const DialogTemplate& dialogTemplate)
{
    QFont font = QApplication::font();
    if (dialogTemplate.pszFont != nullptr && dialogTemplate.pszFont[0] != '\0') {
        QFont wanted(QString::fromUtf8(dialogTemplate.pszFont));
        if (QFontInfo(wanted).family().compare(wanted.family(), Qt::CaseInsensitive) == 0)
            font.setFamily(wanted.family());
    }
    if (dialogTemplate.nFontPoints > 0)
        font.setPointSize(dialogTemplate.nFontPoints);
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font)
{
    static const QString kLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    DialogBaseUnits units;
    units.nX = (metrics.horizontalAdvance(kLetters) / 26 + 1) / 2;
    units.nY = metrics.height();
    if (units.nX < 1)
        units.nX = 1;
    if (units.nY < 1)
        units.nY = 1;
    return units;
}

int DialogUnitsToPixelsX(const DialogBaseUnits& units, int x)
{
    return MulDivRound(x, units.nX, 4);
}

int DialogUnitsToPixelsY(const DialogBaseUnits& units, int y)
{
    return MulDivRound(y, units.nY, 8);
}

QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int cx, int cy)
{
    return QRect(DialogUnitsToPixelsX(units, x), DialogUnitsToPixelsY(units, y), DialogUnitsToPixelsX(units, cx),
                 DialogUnitsToPixelsY(units, cy));
}
