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
