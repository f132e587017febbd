// The small operator commands beside the programming run: f and g put one command character
// on the line, sFile starts the streamer at once, Clear screen empties the log box, Help
// shows the operating instructions.

#include "mainwindow/frmprog.h"
#include "protocol/boot_line.h"

#include <QStringList>

namespace norvak {

void frmProg::Command1_Click() {
    guarded([this] {
        Send(protocol::readyRequest, false);
        toolkit_.yield();
    });
}

void frmProg::Command2_Click() {
    guarded([this] {
        Send(protocol::gCommand, false);
        toolkit_.yield();
    });
}

void frmProg::Command3_Click() {
    table_.sendFilePressed();
}

void frmProg::Command4_Click() {
    logClear();
}

void frmProg::Command5_Click() {
    showMessageBox(helpText(), MessageIcon::Information);
}

QString frmProg::helpText() {
    // Several lines end in a blank, and line 6 has two blanks between "portti" and "ja".
    const QStringList lines = {
        QStringLiteral("Käyttöohje "),
        QStringLiteral("Valitse Com settings kohdasta oikea sarjaportin nopeus (%1) ")
            .arg(protocol::baudRate),
        QStringLiteral("ja portin numero (yleensä 1-5). "),
        QStringLiteral("Paina Connect-nappia. Ruudun otsikkoon pitäisi ilmestyä "),
        QStringLiteral("Connect: true jos yhteys onnistui. "),
        QStringLiteral("Connect: Error/false tilanteessa tarkista nopeus, portti  ja kytkentä"),
        QStringLiteral("Paina browse-nappia. Etsi uusi ohjelmatiedosto (srec)."),
        QStringLiteral("paina ") + RunTable::startCaption + QStringLiteral("- nappia."),
        QStringLiteral("Kytke laitteen virrat pois päältä ja takaisin päälle minuutin sisällä."),
        QStringLiteral("Ohjelmointi alkaa.. Prosentit kasvavat ohjelmoinnin edetessä. "),
        QStringLiteral("Lopuksi ruutuun kuuluisi ilmestyä teksti: "),
        QStringLiteral("Programmed successfully! Restarting device...."),
        QStringLiteral(
            "Ohjelmointi on tällöin onnistunut. Varsinainen ohjelma käynnistyy samalla."),
        QStringLiteral("Muissa tapauksissa yritä ohjelmointia uudelleen."),
        QStringLiteral(
            "Speed-valikosta voidaan muutta ohjelmoinnin nopeutta. Hitain on aina varmin."),
    };
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace norvak
