#include "device/cproductsdatabase.h"

CProductsDatabase::CProductsDatabase(QVector<ProductRecord> products)
    : CDatabase(8), m_products(std::move(products))
{
}

QString CProductsDatabase::recordLine(int index) const
{
    const ProductRecord& r = m_products.at(index);
    const QChar sep = QLatin1Char(';');
    return QStringLiteral("Sr") + QString::number(r.number) + sep + r.text1 + sep + r.text2 + sep + r.text3 +
           sep + QString::number(r.integerValue) + sep + QString::number(r.value1, 'f', 3) + sep +
           QString::number(r.value2, 'f', 3) + sep + QString::number(r.value3, 'f', 3) +
           QStringLiteral("\r\n");
}

QString CProductsDatabase::fieldFault(int index) const
{
    const ProductRecord& r = m_products.at(index);
    for (const QString& why :
         {numberFault(r.number), textFault("text1", r.text1), textFault("text2", r.text2),
          textFault("text3", r.text3), valueFault("value1", r.value1), valueFault("value2", r.value2),
          valueFault("value3", r.value3)}) {
        if (!why.isEmpty()) {
            return why;
        }
    }
    return QString();
}
