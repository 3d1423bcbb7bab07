#pragma once

#include "device/cdatabase.h"
#include "device/devicetypes.h"

#include <QVector>

// The products table: "Sr", number, the three texts, the integer and the three values with three
// decimals, separated by ";".
class CProductsDatabase : public CDatabase
{
public:
    static constexpr int Capacity = 10000;

    explicit CProductsDatabase(QVector<ProductRecord> products);

    int count() const override { return m_products.size(); }
    QString recordLine(int index) const override;
    QString startCommand() const override { return QStringLiteral("SbP\r\n"); }
    QString startAcknowledge() const override { return QStringLiteral("MbP\r\n"); }
    qint32 recordNumber(int index) const override { return m_products.at(index).number; }
    int capacity() const override { return Capacity; }

protected:
    QString fieldFault(int index) const override;

private:
    QVector<ProductRecord> m_products;
};
