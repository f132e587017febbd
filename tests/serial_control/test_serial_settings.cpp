#include "link/control/serial_control.h"
#include "link/control/serial_settings.h"

#include <QTest>

using norvak::SerialSettings;

Q_DECLARE_METATYPE(SerialSettings)

class TestSerialSettings : public QObject {
    Q_OBJECT

private slots:
    void acceptsWellFormedText_data();
    void acceptsWellFormedText();
    void rejectsMalformedText_data();
    void rejectsMalformedText();
};

void TestSerialSettings::acceptsWellFormedText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<SerialSettings>("expected");
    QTest::newRow("usual") << "57600,n,8,1"
                           << SerialSettings{57600, QSerialPort::NoParity, QSerialPort::Data8,
                                             QSerialPort::OneStop};
    QTest::newRow("upper case even")
        << "9600,E,7,2"
        << SerialSettings{9600, QSerialPort::EvenParity, QSerialPort::Data7, QSerialPort::TwoStop};
    QTest::newRow("odd, 1.5 stop")
        << "110,o,5,1.5"
        << SerialSettings{110, QSerialPort::OddParity, QSerialPort::Data5,
                          QSerialPort::OneAndHalfStop};
    QTest::newRow("mark") << "300,M,6,1"
                          << SerialSettings{300, QSerialPort::MarkParity, QSerialPort::Data6,
                                            QSerialPort::OneStop};
    QTest::newRow("space, odd rate") << "250000,s,8,2"
                                     << SerialSettings{250000, QSerialPort::SpaceParity,
                                                       QSerialPort::Data8, QSerialPort::TwoStop};
    QTest::newRow("largest rate") << "2147483647,n,8,1"
                                  << SerialSettings{2147483647, QSerialPort::NoParity,
                                                    QSerialPort::Data8, QSerialPort::OneStop};
}

void TestSerialSettings::acceptsWellFormedText() {
    QFETCH(QString, text);
    QFETCH(SerialSettings, expected);
    QCOMPARE(norvak::parseSerialSettings(text), expected);
}

void TestSerialSettings::rejectsMalformedText_data() {
    // Each malformed text, and a word the description must contain to tell what is wrong.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("empty") << ""
                           << "four fields";
    QTest::newRow("three fields") << "57600,n,8"
                                  << "four fields";
    QTest::newRow("five fields") << "57600,n,8,1,1"
                                 << "four fields";
    QTest::newRow("semicolons") << "57600;n;8;1"
                                << "four fields";
    QTest::newRow("zero rate") << "0,n,8,1"
                               << "rate";
    QTest::newRow("negative rate") << "-9600,n,8,1"
                                   << "rate";
    QTest::newRow("blank in rate") << "57 600,n,8,1"
                                   << "rate";
    QTest::newRow("leading blank") << " 57600,n,8,1"
                                   << "rate";
    QTest::newRow("fractional rate") << "57600.5,n,8,1"
                                     << "rate";
    QTest::newRow("rate too large") << "2147483648,n,8,1"
                                    << "rate";
    QTest::newRow("hex rate") << "0xE100,n,8,1"
                              << "rate";
    QTest::newRow("no rate") << ",n,8,1"
                             << "rate";
    QTest::newRow("unknown parity") << "57600,x,8,1"
                                    << "parity";
    QTest::newRow("parity word") << "57600,none,8,1"
                                 << "parity";
    QTest::newRow("no parity") << "57600,,8,1"
                               << "parity";
    QTest::newRow("4 data bits") << "57600,n,4,1"
                                 << "data bits";
    QTest::newRow("9 data bits") << "57600,n,9,1"
                                 << "data bits";
    QTest::newRow("blank data bits") << "57600,n, 8,1"
                                     << "data bits";
    QTest::newRow("0 stop bits") << "57600,n,8,0"
                                 << "stop bits";
    QTest::newRow("3 stop bits") << "57600,n,8,3"
                                 << "stop bits";
    QTest::newRow("1,5 stop bits") << "57600,n,8,1,5"
                                   << "four fields";
    QTest::newRow("trailing blank") << "57600,n,8,1 "
                                    << "stop bits";
}

void TestSerialSettings::rejectsMalformedText() {
    QFETCH(QString, text);
    QFETCH(QString, mentions);
    try {
        (void)norvak::parseSerialSettings(text);
        QFAIL("malformed settings were accepted");
    } catch (const norvak::SerialError& error) {
        QVERIFY2(error.description().contains(mentions), qPrintable(error.description()));
        QVERIFY2(error.description().contains(QStringLiteral("\"%1\"").arg(text)),
                 qPrintable(error.description()));
        // The example is the link's own settings.
        QVERIFY2(error.description().endsWith(QStringLiteral("e.g. 57600,n,8,1.")),
                 qPrintable(error.description()));
    }
}

QTEST_GUILESS_MAIN(TestSerialSettings)
#include "test_serial_settings.moc"
