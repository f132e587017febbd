// The small operator commands: f, g, sFile, Clear screen and Help.

#include "tests/support/window_rig.h"

#include <QTest>

using namespace norvak;
using namespace norvak::test;

class TestOperatorCommands : public QObject {
    Q_OBJECT

private slots:
    void fAndGSendOneByteAndYieldOnce();
    void fAndGWithThePortClosedDoNothing();
    void sFileWithoutAFileSendsNothing();
    void clearScreenDuringARunKeepsTheRunGoing();
    void helpTextCharacterByCharacter();
    void helpBoxIsInformationWithTheApplicationTitle();
};

void TestOperatorCommands::fAndGSendOneByteAndYieldOnce() {
    WindowRig rig;
    rig.pressConnect();
    const QString caption = rig.caption();
    const int yields = rig.toolkit.yieldCount;
    rig.press(Button::F);
    QCOMPARE(rig.serial->wire, QByteArray("f"));
    QCOMPARE(rig.toolkit.yieldCount, yields + 1);
    rig.press(Button::G);
    QCOMPARE(rig.serial->wire, QByteArray("fg"));
    QCOMPARE(rig.caption(), caption);
    QVERIFY(rig.logText().isEmpty());
    QCOMPARE(rig.state(), FlashState::Idle);
    // The device's answer arrives within the yield and goes to the log box.
    rig.serial->receive("_");
    rig.press(Button::F);
    QCOMPARE(rig.logText(), QStringLiteral("_"));
}

void TestOperatorCommands::fAndGWithThePortClosedDoNothing() {
    WindowRig rig;
    rig.press(Button::G);
    rig.press(Button::F);
    QVERIFY(rig.serial->wire.isEmpty());
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer"));
    QVERIFY(rig.logText().isEmpty());
    QVERIFY(rig.toolkit.messages.empty());
}

void TestOperatorCommands::sFileWithoutAFileSendsNothing() {
    WindowRig rig;
    rig.pressConnect();
    rig.press(Button::SFile);
    QVERIFY(rig.timerOn(TimerRole::FileSender));
    QCOMPARE(rig.state(), FlashState::Idle);
    rig.tick(Milliseconds(5000));
    QVERIFY(rig.serial->wire.isEmpty());
    // The streamer found no file to read, and says so.
    QCOMPARE(rig.caption(),
             QStringLiteral("Norvak Flash Programmer, Cannot read the firmware file: no firmware "
                            "file chosen"));
    QVERIFY(!rig.enabled(Button::Flash)); // still nothing to start with
    QVERIFY(rig.toolkit.messages.empty());
    QVERIFY(!rig.timerOn(TimerRole::FileSender));
}

void TestOperatorCommands::clearScreenDuringARunKeepsTheRunGoing() {
    WindowRig rig;
    rig.startRun("S00600004844521B\r\n");
    rig.receive("boot>");
    QCOMPARE(rig.logText(), QStringLiteral("boot>"));
    rig.press(Button::ClearScreen);
    QVERIFY(rig.logText().isEmpty());
    QCOMPARE(rig.state(), FlashState::WaitingForReady);
    QVERIFY(rig.timerOn(TimerRole::DotWatchdog));
    rig.receive("_");
    QCOMPARE(rig.logText(), QStringLiteral("_"));
    QCOMPARE(rig.state(), FlashState::Sending);
}

void TestOperatorCommands::helpTextCharacterByCharacter() {
    const QString text = WindowRig::helpText();
    QCOMPARE(text.size(), 798);
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 15);
    QCOMPARE(text.count(u'\r'), 14);
    QCOMPARE(text.count(u'\n'), 14);
    // The Finnish letters survive the build as single characters.
    QCOMPARE(lines[0], QString::fromUtf16(u"K\u00e4ytt\u00f6ohje "));
    QCOMPARE(lines[1],
             QStringLiteral("Valitse Com settings kohdasta oikea sarjaportin nopeus (57600) "));
    QCOMPARE(lines[2], QString::fromUtf16(u"ja portin numero (yleens\u00e4 1-5). "));
    QCOMPARE(lines[3], QString::fromUtf16(
                           u"Paina Connect-nappia. Ruudun otsikkoon pit\u00e4isi ilmesty\u00e4 "));
    QCOMPARE(lines[4], QStringLiteral("Connect: true jos yhteys onnistui. "));
    QCOMPARE(lines[5],
             QString::fromUtf16(
                 u"Connect: Error/false tilanteessa tarkista nopeus, portti  ja kytkent\u00e4"));
    QCOMPARE(lines[6], QStringLiteral("Paina browse-nappia. Etsi uusi ohjelmatiedosto (srec)."));
    QCOMPARE(lines[7], QStringLiteral("paina START PROGRAMMING- nappia."));
    QCOMPARE(lines[8],
             QString::fromUtf16(u"Kytke laitteen virrat pois p\u00e4\u00e4lt\u00e4 ja takaisin "
                                u"p\u00e4\u00e4lle minuutin sis\u00e4ll\u00e4."));
    QCOMPARE(lines[9], QString::fromUtf16(
                           u"Ohjelmointi alkaa.. Prosentit kasvavat ohjelmoinnin edetess\u00e4. "));
    QCOMPARE(lines[10], QString::fromUtf16(u"Lopuksi ruutuun kuuluisi ilmesty\u00e4 teksti: "));
    QCOMPARE(lines[11], QStringLiteral("Programmed successfully! Restarting device...."));
    QCOMPARE(lines[12], QString::fromUtf16(u"Ohjelmointi on t\u00e4ll\u00f6in onnistunut. "
                                           u"Varsinainen ohjelma k\u00e4ynnistyy samalla."));
    QCOMPARE(lines[13],
             QString::fromUtf16(u"Muissa tapauksissa yrit\u00e4 ohjelmointia uudelleen."));
    QCOMPARE(lines[14],
             QStringLiteral(
                 "Speed-valikosta voidaan muutta ohjelmoinnin nopeutta. Hitain on aina varmin."));
    for (const QChar c : text) {
        QVERIFY(c.unicode() < 0x100); // nothing but Latin-1 letters
    }
}

void TestOperatorCommands::helpBoxIsInformationWithTheApplicationTitle() {
    WindowRig rig;
    rig.press(Button::Help);
    QCOMPARE(rig.toolkit.messages.size(), std::size_t{1});
    QCOMPARE(rig.toolkit.messages[0].text, WindowRig::helpText());
    QCOMPARE(rig.toolkit.messages[0].icon, MessageIcon::Information);
    QCOMPARE(rig.toolkit.messages[0].title, QStringLiteral("Norvak Flash Programmer"));
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer"));
}

QTEST_MAIN(TestOperatorCommands)
#include "test_operator_commands.moc"
