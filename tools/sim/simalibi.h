#ifndef SIMALIBI_H
#define SIMALIBI_H

#include <QByteArray>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>

class QCommandLineParser;

// The instrument's alibi memory: a number of stored weighings handed out one per request, with faults for
// the reader's repeat rule and end handling.
class SimAlibi
{
public:
    static const QByteArray Header;
    // Ends the line of the last record, and is the answer to a request past the end.
    static const QByteArray EndMarker;

    static void addOptions(QCommandLineParser& parser);
    bool configure(const QCommandLineParser& parser, QString* error);

    void setCount(int count) { m_count = qMax(0, count); }
    int count() const { return m_count; }
    // The count as announced; empty announces the true one.
    void setAnnouncement(const QByteArray& text) { m_announcement = text; }
    // The first `times` transmissions of record `record` lack their last field.
    void setBroken(int record, int times);
    void setEndMarker(bool on) { m_endMarker = on; }
    // Records go out with one field altered out of its form: each transmission with probability share
    // (drawn from seed), and the records listed on their first transmission.
    void setGarbled(double share, quint32 seed, const QSet<int>& records);
    // The record line with one of its fields (cycling with `variant`) no longer of its form.
    static QByteArray garbled(const QByteArray& line, int variant);

    // The stored record number i (1-based), CR LF included.
    QByteArray record(int i) const;

    static bool isAlibiCommand(const QByteArray& body)
    {
        return body == "Salibiprn" || body == "Salibinext" || body == "Salibirep" || body == "Salibistop";
    }
    // The answer to a command line without its CR LF; empty for none.
    QByteArray handle(const QByteArray& body);

    // How often record i went out, broken or not.
    int transmissions(int i) const { return m_sent.value(i); }

private:
    QByteArray recordAnswer(int i);
    QByteArray pastTheEnd() const;

    int m_count = 0;
    QByteArray m_announcement;
    int m_brokenRecord = 0;
    int m_brokenTimes = 0;
    bool m_endMarker = true;
    double m_garbleShare = 0.0;
    QRandomGenerator m_garbleRandom;
    QSet<int> m_garbledRecords;
    // Every record's product, when set.
    QByteArray m_product;
    int m_next = 1;
    int m_current = 0;
    QHash<int, int> m_sent;
};

#endif // SIMALIBI_H
