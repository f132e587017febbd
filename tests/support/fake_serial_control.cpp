#include "tests/support/fake_serial_control.h"

#include "tests/support/virtual_toolkit.h"

#include <algorithm>

namespace norvak::test {

namespace {

void requireOpen(bool open) {
    if (!open) {
        throw SerialError(QStringLiteral("Operation valid only when the port is open"));
    }
}

} // namespace

void FakeSerialControl::setCommPort(std::int16_t port) {
    if (open_) {
        throw SerialError(QStringLiteral("Port already open"));
    }
    if (port < 1) {
        throw SerialError(QStringLiteral("Port %1: invalid port number").arg(port));
    }
    memberWrites << QStringLiteral("CommPort=%1").arg(port);
    commPort = port;
}

void FakeSerialControl::setSettings(const QString& text) {
    memberWrites << QStringLiteral("Settings=") + text;
    settings = text;
}

void FakeSerialControl::setRThreshold(std::int16_t count) {
    memberWrites << QStringLiteral("RThreshold=%1").arg(count);
    rThreshold_ = count;
}

void FakeSerialControl::setInputLen(std::int16_t count) {
    memberWrites << QStringLiteral("InputLen=%1").arg(count);
    inputLen_ = count;
}

void FakeSerialControl::setOutBufferSize(std::int16_t bytes) {
    memberWrites << QStringLiteral("OutBufferSize=%1").arg(bytes);
}

void FakeSerialControl::setPortOpen(bool open) {
    memberWrites << QStringLiteral("PortOpen=%1").arg(open ? u"true" : u"false");
    if (open && !open_ && openFailure) {
        throw SerialError(*openFailure);
    }
    if (!open) {
        inbox_.clear();
    }
    open_ = open;
}

void FakeSerialControl::Output(QByteArrayView bytes) {
    requireOpen(open_);
    if (outputFailure) {
        throw PortLostError(*outputFailure);
    }
    if (otherOutputFailure) {
        throw SerialError(*otherOutputFailure);
    }
    wire.append(bytes);
    outputs.append(bytes.toByteArray());
    outputTimes.append(toolkit_.now());
    if (onOutput) {
        onOutput(bytes);
    }
}

std::int16_t FakeSerialControl::InBufferCount() const {
    requireOpen(open_);
    return static_cast<std::int16_t>(std::min<qsizetype>(inbox_.size(), 32767));
}

QByteArray FakeSerialControl::Input() {
    requireOpen(open_);
    const qsizetype count =
        inputLen_ == 0 ? inbox_.size() : std::min<qsizetype>(inputLen_, inbox_.size());
    QByteArray taken = inbox_.left(count);
    inbox_.remove(0, count);
    return taken;
}

void FakeSerialControl::receive(const QByteArray& bytes) {
    inbox_.append(bytes);
    raise(comm_event::Receive);
}

void FakeSerialControl::raiseError(std::int16_t event, const QByteArray& bytes) {
    inbox_.append(bytes);
    raise(event);
}

void FakeSerialControl::raiseEmptyEvent() {
    raise(1);
}

void FakeSerialControl::raise(std::int16_t event) {
    toolkit_.post([this, event] {
        if (!open_ || !OnComm) {
            return;
        }
        commEvent_ = event;
        OnComm();
    });
}

void FakeSerialControl::pullAdapter(const QString& description) {
    toolkit_.post([this, description] {
        if (!open_) {
            return;
        }
        open_ = false;
        inbox_.clear();
        if (OnPortLost) {
            OnPortLost(description);
        }
    });
}

} // namespace norvak::test
