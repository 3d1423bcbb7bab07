// Every input kept for a fuzz target (its seeds and the inputs that once broke it) replayed against the
// same target code, without the fuzzer.
#include "targets.h"

#include <QDir>
#include <QTest>

class TestFuzzReplay : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { fuzzSetUp(); }

    void replay_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("path");
        for (int t = 0; t < fuzzTargets().size(); ++t) {
            const QDir dir(QStringLiteral(MERVIK_FUZZ_CORPUS "/") + fuzzTargets().at(t).name);
            const QStringList files = dir.entryList(QDir::Files);
            QVERIFY2(!files.isEmpty(), qPrintable(dir.path() + QStringLiteral(" holds no inputs")));
            for (const QString& file : files) {
                QTest::newRow(qPrintable(fuzzTargets().at(t).name + QLatin1Char('/') + file))
                    << t << dir.filePath(file);
            }
        }
    }

    void replay()
    {
        QFETCH(int, target);
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        fuzzTargets().at(target).run(file.readAll());
    }
};

QTEST_MAIN(TestFuzzReplay)
#include "tst_fuzzreplay.moc"
