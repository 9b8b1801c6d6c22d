#include "platform/PreferenceValue.h"

#include <QString>
#include <limits>

uint32_t PreferenceValueToInt(const QVariant& value, uint32_t nDefault)
{
    bool bOk = false;
    qlonglong n = 0;
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        n = value.toLongLong(&bOk);
        break;
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong u = value.toULongLong(&bOk);
        bOk = bOk && u <= std::numeric_limits<uint32_t>::max();
        n = static_cast<qlonglong>(u);
        break;
    }
    case QMetaType::QString:
    case QMetaType::QByteArray:
        n = value.toString().trimmed().toLongLong(&bOk, 10);
        break;
    default:
        break;
    }
    if (!bOk || n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<uint32_t>::max())
        return nDefault;
    return static_cast<uint32_t>(n);
}
