#include "devicenotify/usb_notification.h"

#include <QStringList>
#include <QTest>

#include <algorithm>
#include <memory>
#include <optional>

using namespace norvak::devicenotify;

namespace {

constexpr std::uintptr_t window = 0x00A1'0042;
constexpr std::intptr_t listenerProc = 0x7000'1000;
constexpr std::intptr_t windowOwnProc = 0x7000'2000;
constexpr char16_t usbClassText[] = u"{A5DCBF10-6530-11D2-901F-00C04FB951ED}";
constexpr Guid usbClassBytes{0x10, 0xBF, 0xDC, 0xA5, 0x30, 0x65, 0xD2, 0x11,
                             0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED};

FilterRecord expectedFilter() {
    FilterRecord record{};
    const std::uint8_t head[] = {111, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0};
    std::ranges::copy(head, record.begin());
    std::ranges::copy(usbClassBytes, record.begin() + 12);
    return record;
}

QString hex(std::uintmax_t value) {
    return QStringLiteral("0x") + QString::number(value, 16);
}

// Stands in for user32/ole32: logs every call with its arguments and answers as configured.
class RecordingPlatform {
public:
    std::uintptr_t registerResult = 0xD00D;
    bool unregisterResult = true;
    bool conversionSucceeds = true;
    std::intptr_t procResult = 0;

    QStringList log;
    std::optional<FilterRecord> registeredFilter;
    const FilterRecord* registeredFilterAddress = nullptr;
    const ModuleUsbNotification* attached = nullptr;

    UsbPlatformCalls calls() {
        return {
            .clsidFromString =
                [this](const char16_t* text, Guid& classId) {
                    const auto given = QString::fromUtf16(text);
                    log << QStringLiteral("clsidFromString ") + given;
                    if (!conversionSucceeds || given != QString::fromUtf16(usbClassText))
                        return std::int32_t{-2147024809}; // E_INVALIDARG, nothing written
                    classId = usbClassBytes;
                    return std::int32_t{0};
                },
            .registerDeviceNotification =
                [this](std::uintptr_t w, const FilterRecord& filter, std::uint32_t flags) {
                    log << QStringLiteral("register %1 flags=%2").arg(hex(w)).arg(flags);
                    registeredFilter = filter;
                    registeredFilterAddress = &filter;
                    return registerResult;
                },
            .unregisterDeviceNotification =
                [this](std::uintptr_t handle) {
                    log << QStringLiteral("unregister %1").arg(hex(handle));
                    return unregisterResult;
                },
            .setWindowProc =
                [this](std::uintptr_t w, std::int32_t index, std::intptr_t value) {
                    log << QStringLiteral("setWindowProc %1 index=%2 %3")
                               .arg(hex(w))
                               .arg(index)
                               .arg(hex(static_cast<std::uintptr_t>(value)));
                    return std::exchange(currentProc_, value);
                },
            .callWindowProc =
                [this](std::intptr_t proc, std::uintptr_t w, std::uint32_t message,
                       std::uintptr_t wParam, std::intptr_t lParam) {
                    log << QStringLiteral("callWindowProc %1 %2 msg=%3 w=%4 l=%5")
                               .arg(hex(static_cast<std::uintptr_t>(proc)), hex(w), hex(message),
                                    hex(wParam))
                               .arg(lParam);
                    return procResult;
                },
            .usbWindowProc = listenerProc,
            .attachModule =
                [this](ModuleUsbNotification& module) {
                    log << QStringLiteral("attach");
                    attached = &module;
                },
            .detachModule =
                [this](const ModuleUsbNotification& module) {
                    log << QStringLiteral("detach");
                    if (attached == &module)
                        attached = nullptr;
                },
        };
    }

private:
    std::intptr_t currentProc_ = windowOwnProc;
};

const QString startLog = QStringLiteral("clsidFromString {A5DCBF10-6530-11D2-901F-00C04FB951ED}");

} // namespace

class TestUsbNotification : public QObject {
    Q_OBJECT

private slots:
    void startRegistersThenHooks() {
        RecordingPlatform fake;
        const UsbPlatformCalls calls = fake.calls();
        ModuleUsbNotification listener(&calls);
        listener.StartUsbNotification(window);

        QCOMPARE(fake.log, QStringList({startLog, "register 0xa10042 flags=0", "attach",
                                        "setWindowProc 0xa10042 index=-4 0x70001000"}));
        QCOMPARE(fake.attached, &listener);
        QCOMPARE(listener.notificationHandle(), std::uintptr_t{0xD00D});
        QCOMPARE(listener.previousWindowProc(), windowOwnProc);
        // The system is handed the module's own record, which lives as long as the module.
        QCOMPARE(fake.registeredFilterAddress, &listener.filterRecord());
    }

    void filterRecordByteForByte() {
        RecordingPlatform fake;
        const UsbPlatformCalls calls = fake.calls();
        ModuleUsbNotification listener(&calls);
        listener.StartUsbNotification(window);
        QVERIFY(fake.registeredFilter.has_value());
        QCOMPARE(*fake.registeredFilter, expectedFilter());
        QCOMPARE(listener.filterRecord(), expectedFilter());

        // A restart whose conversion fails keeps no class from the previous start: zeros there.
        fake.conversionSucceeds = false;
        listener.StartUsbNotification(window);
        FilterRecord zeroClass = expectedFilter();
        std::fill_n(zeroClass.begin() + 12, 16, std::uint8_t{0});
        QCOMPARE(*fake.registeredFilter, zeroClass);
        QCOMPARE(fake.log.count(QStringLiteral("register 0xa10042 flags=0")), 2);
    }

    void windowProcPassesMessagesThrough_data() {
        QTest::addColumn<quint32>("message");
        QTest::addColumn<quintptr>("wParam");
        QTest::addColumn<qintptr>("lParam");
        QTest::addColumn<qintptr>("result");
        QTest::addColumn<QString>("expectedCall");
        QTest::newRow("WM_DEVICECHANGE arrival")
            << quint32{0x0219} << quintptr{0x8000} << qintptr{0x0012'F5A0} << qintptr{1}
            << "callWindowProc 0x70002000 0xa10042 msg=0x219 w=0x8000 l=1242528";
        QTest::newRow("WM_DEVICECHANGE removal")
            << quint32{0x0219} << quintptr{0x8004} << qintptr{0x0012'F5A0} << qintptr{0}
            << "callWindowProc 0x70002000 0xa10042 msg=0x219 w=0x8004 l=1242528";
        QTest::newRow("WM_PAINT") << quint32{0x000F} << quintptr{0} << qintptr{0} << qintptr{0}
                                  << "callWindowProc 0x70002000 0xa10042 msg=0xf w=0x0 l=0";
        QTest::newRow("WM_CLOSE") << quint32{0x0010} << quintptr{0} << qintptr{0} << qintptr{-1}
                                  << "callWindowProc 0x70002000 0xa10042 msg=0x10 w=0x0 l=0";
        QTest::newRow("extreme values")
            << quint32{0xFFFF'FFFF} << ~quintptr{0} << qintptr{-123456789} << qintptr{0x7FFF'FFFF}
            << QStringLiteral("callWindowProc 0x70002000 0xa10042 msg=0xffffffff w=%1 l=-123456789")
                   .arg(hex(~std::uintptr_t{0}));
    }

    void windowProcPassesMessagesThrough() {
        QFETCH(quint32, message);
        QFETCH(quintptr, wParam);
        QFETCH(qintptr, lParam);
        QFETCH(qintptr, result);
        QFETCH(QString, expectedCall);

        RecordingPlatform fake;
        fake.procResult = result;
        const UsbPlatformCalls calls = fake.calls();
        ModuleUsbNotification listener(&calls);
        listener.StartUsbNotification(window);
        fake.log.clear();

        QCOMPARE(listener.UsbWindowProc(window, message, wParam, lParam), result);
        QCOMPARE(fake.log, QStringList{expectedCall});
    }

    void stopUnregistersThenRestores_data() {
        QTest::addColumn<quintptr>("handle");
        QTest::newRow("registered handle") << quintptr{0xD00D};
        QTest::newRow("handle as given") << quintptr{0xBEEF};
    }

    void stopUnregistersThenRestores() {
        QFETCH(quintptr, handle);
        RecordingPlatform fake;
        const UsbPlatformCalls calls = fake.calls();
        ModuleUsbNotification listener(&calls);
        listener.StartUsbNotification(window);
        fake.log.clear();

        listener.StopUsbNotification(window, handle);
        QCOMPARE(fake.log, QStringList({"unregister " + hex(handle),
                                        "setWindowProc 0xa10042 index=-4 0x70002000", "detach"}));
        QCOMPARE(fake.attached, nullptr);
    }

    void failedRegistrationStillHooksAndStops() {
        RecordingPlatform fake;
        fake.registerResult = 0;
        fake.unregisterResult = false;
        const UsbPlatformCalls calls = fake.calls();
        ModuleUsbNotification listener(&calls);
        listener.StartUsbNotification(window);
        QCOMPARE(listener.notificationHandle(), std::uintptr_t{0});
        QCOMPARE(fake.log.last(), QStringLiteral("setWindowProc 0xa10042 index=-4 0x70001000"));

        fake.log.clear();
        listener.StopUsbNotification(window, listener.notificationHandle());
        QCOMPARE(fake.log, QStringList({"unregister 0x0",
                                        "setWindowProc 0xa10042 index=-4 0x70002000", "detach"}));
    }

    void destroyedModuleIsDetached() {
        RecordingPlatform fake;
        const UsbPlatformCalls calls = fake.calls();
        auto listener = std::make_unique<ModuleUsbNotification>(&calls);
        listener->StartUsbNotification(window);
        QCOMPARE(fake.attached, listener.get());
        listener.reset();
        QCOMPARE(fake.attached, nullptr);
    }

    void nullPlatformIsInactive() {
        ModuleUsbNotification listener(nullptr);
        listener.StartUsbNotification(window);
        listener.StopUsbNotification(window, 0xD00D);
        QCOMPARE(listener.UsbWindowProc(window, 0x0219, 0x8000, 1), qintptr{0});
        QCOMPARE(listener.notificationHandle(), std::uintptr_t{0});
        QCOMPARE(listener.previousWindowProc(), std::intptr_t{0});
        QCOMPARE(listener.filterRecord(), FilterRecord{});
#ifndef _WIN32
        QCOMPARE(nativeUsbPlatform(), nullptr);
#endif
    }
};

QTEST_GUILESS_MAIN(TestUsbNotification)
#include "tst_usb_notification.moc"
