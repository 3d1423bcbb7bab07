#include "device/devicetypes.h"

#include "log/pelmlogrecord.h"

QString Measurement::valueText() const
{
    return QString::number(value, 'f', decimals);
}

namespace DeviceTypes {

void registerMetaTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<Measurement>("Measurement");
        qRegisterMetaType<FunctionWrapper*>("FunctionWrapper*");
        qRegisterMetaType<UserRecord>("UserRecord");
        qRegisterMetaType<ProductRecord>("ProductRecord");
        qRegisterMetaType<AlibiRecord>("AlibiRecord");
        qRegisterMetaType<QVector<UserRecord>>("QVector<UserRecord>");
        qRegisterMetaType<QVector<ProductRecord>>("QVector<ProductRecord>");
        qRegisterMetaType<PelmLogRecord>("PelmLogRecord");
        return true;
    }();
    Q_UNUSED(registered)
}

} // namespace DeviceTypes
