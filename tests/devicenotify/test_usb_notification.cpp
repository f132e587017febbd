#include "devicenotify/usb_notification.h"

#include <QStringList>
#include <QTest>

#include <algorithm>
#include <memory>
#include <optional>

using namespace norvak::devicenotify;

namespace {

constexpr std::uintptr_t window = 0xA10042;
constexpr std::intptr_t listenerProc = 0x7000'1000;
constexpr std::intptr_t windowOwnProc = 0x7000'2000;
constexpr Guid usbClassBytes{0x10, 0xBF, 0xDC, 0xA5, 0x30, 0x65, 0xD2, 0x11,
                             0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED};
const QString usbClassText = QStringLiteral("{A5DCBF10-6530-11D2-901F-00C04FB951ED}");

FilterRecord expectedFilter(const Guid& classBytes) {
    FilterRecord record{};
    const std::uint8_t head[] = {111, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0};
    std::ranges::copy(classBytes, std::ranges::copy(head, record.begin()).out);
    return record;
}

// Stands in for user32/ole32: logs every call with its arguments (integers in hex) and answers
// as configured. The window procedure slot starts out holding the window's own procedure.
struct RecordingPlatform {
    std::uintptr_t registerResult = 0xD00D;
    bool unregisterResult = true;
    bool conversionSucceeds = true;
    std::intptr_t procResult = 0;
    std::intptr_t currentProc = windowOwnProc;
    QStringList log;
    std::optional<FilterRecord> registeredFilter;
    const FilterRecord* registeredFilterAddress = nullptr;
    const ModuleUsbNotification* attached = nullptr;

    template <typename... Args> void record(const char* name, Args... args) {
        QStringList parts{QString::fromLatin1(name)};
        (parts.append(QString::number(static_cast<qint64>(args), 16)), ...);
        log << parts.join(' ');
    }

    UsbPlatformCalls calls() {
        return {
            .clsidFromString =
                [this](const char16_t* text, Guid& classId) {
                    log << "clsidFromString " + QString::fromUtf16(text);
                    if (!conversionSucceeds) {
                        return std::int32_t{-2147024809}; // E_INVALIDARG, nothing written
                    }
                    classId = usbClassBytes;
                    return std::int32_t{0};
                },
            .registerDeviceNotification =
                [this](std::uintptr_t w, const FilterRecord& filter, std::uint32_t flags) {
                    record("register", w, flags);
                    registeredFilter = filter;
                    registeredFilterAddress = &filter;
                    return registerResult;
                },
            .unregisterDeviceNotification =
                [this](std::uintptr_t handle) {
                    record("unregister", handle);
                    return unregisterResult;
                },
            .setWindowProc =
                [this](std::uintptr_t w, std::int32_t index, std::intptr_t value) {
                    record("setWindowProc", w, index, value);
                    return std::exchange(currentProc, value);
                },
            .callWindowProc =
                [this](std::intptr_t proc, std::uintptr_t w, std::uint32_t message,
                       std::uintptr_t wParam, std::intptr_t lParam) {
                    record("callWindowProc", proc, w, message, wParam, lParam);
                    return procResult;
                },
            .usbWindowProc = listenerProc,
            .attachModule = [this](ModuleUsbNotification& m) { record("attach"), attached = &m; },
            .detachModule =
                [this](const ModuleUsbNotification& m) {
                    record("detach");
                    if (attached == &m) {
                        attached = nullptr;
                    }
                },
        };
    }
};

const QString hookCall = QStringLiteral("setWindowProc a10042 -4 70001000");
const QString unhookCall = QStringLiteral("setWindowProc a10042 -4 70002000");

} // namespace

class TestUsbNotification : public QObject {
    Q_OBJECT

private slots:
    void startRegistersThenHooksWithTheFilterRecord() {
        RecordingPlatform fake;
        const UsbPlatformCalls calls = fake.calls();
        ModuleUsbNotification listener(&calls);
        listener.StartUsbNotification(window);

        QCOMPARE(fake.log, QStringList({"clsidFromString " + usbClassText, "register a10042 0",
                                        "attach", hookCall}));
        QCOMPARE(fake.attached, &listener);
        QCOMPARE(listener.notificationHandle(), std::uintptr_t{0xD00D});
        QCOMPARE(listener.previousWindowProc(), windowOwnProc);
        QVERIFY(fake.registeredFilter.has_value());
        QCOMPARE(*fake.registeredFilter, expectedFilter(usbClassBytes));
        // The system is handed the module's own record, which lives as long as the module.
        QCOMPARE(fake.registeredFilterAddress, &listener.filterRecord());

        // A restart whose conversion fails keeps no class from the previous start: zeros there.
        fake.conversionSucceeds = false;
        listener.StartUsbNotification(window);
        QCOMPARE(*fake.registeredFilter, expectedFilter(Guid{}));
        QCOMPARE(fake.log.count("register a10042 0"), 2);
    }

    void windowProcPassesMessagesThroughUnchanged() {
        struct Message {
            std::uint32_t id;
            std::uintptr_t wParam;
            std::intptr_t lParam;
            std::intptr_t result;
        };
        const Message messages[] = {
            {0x0219, 0x8000, 0x12F5A0, 1},                       // WM_DEVICECHANGE, arrival
            {0x0219, 0x8004, 0x12F5A0, 0},                       // WM_DEVICECHANGE, removal
            {0x000F, 0, 0, 0},                                   // WM_PAINT
            {0x0010, 0, 0, -1},                                  // WM_CLOSE
            {0xFFFF'FFFF, 0x7FFF'FFFF'FFFF, -123456789, 0x7FFF}, // extremes
        };
        RecordingPlatform fake;
        const UsbPlatformCalls calls = fake.calls();
        ModuleUsbNotification listener(&calls);
        listener.StartUsbNotification(window);
        for (const Message& m : messages) {
            fake.log.clear();
            fake.procResult = m.result;
            QCOMPARE(listener.UsbWindowProc(window, m.id, m.wParam, m.lParam), m.result);
            fake.record("callWindowProc", windowOwnProc, window, m.id, m.wParam, m.lParam);
            QCOMPARE(fake.log.size(), 2);
            QCOMPARE(fake.log.first(), fake.log.last());
        }
    }

    void stopUnregistersGivenHandleThenRestores() {
        RecordingPlatform fake;
        const UsbPlatformCalls calls = fake.calls();
        ModuleUsbNotification listener(&calls);
        listener.StartUsbNotification(window);
        fake.log.clear();
        listener.StopUsbNotification(window, 0xBEEF);
        QCOMPARE(fake.log, QStringList({"unregister beef", unhookCall, "detach"}));
        QCOMPARE(fake.attached, nullptr);
        QCOMPARE(fake.currentProc, windowOwnProc);
    }

    void failedRegistrationStillHooksAndStops() {
        RecordingPlatform fake;
        fake.registerResult = 0;
        fake.unregisterResult = false;
        const UsbPlatformCalls calls = fake.calls();
        ModuleUsbNotification listener(&calls);
        listener.StartUsbNotification(window);
        QCOMPARE(listener.notificationHandle(), std::uintptr_t{0});
        QCOMPARE(fake.log.last(), hookCall);

        fake.log.clear();
        listener.StopUsbNotification(window, listener.notificationHandle());
        QCOMPARE(fake.log, QStringList({"unregister 0", unhookCall, "detach"}));
    }

    void destroyedModuleIsDetached() {
        RecordingPlatform fake;
        const UsbPlatformCalls calls = fake.calls();
        auto listener = std::make_unique<ModuleUsbNotification>(&calls);
        listener->StartUsbNotification(window);
        listener.reset();
        QCOMPARE(fake.attached, nullptr);
    }

    void nullPlatformIsInactive() {
        ModuleUsbNotification listener(nullptr);
        listener.StartUsbNotification(window);
        listener.StopUsbNotification(window, 0xD00D);
        QCOMPARE(listener.UsbWindowProc(window, 0x0219, 0x8000, 1), std::intptr_t{0});
        QCOMPARE(listener.notificationHandle(), std::uintptr_t{0});
        QCOMPARE(listener.previousWindowProc(), std::intptr_t{0});
        QCOMPARE(listener.filterRecord(), FilterRecord{});
#ifndef _WIN32
        QCOMPARE(nativeUsbPlatform(), nullptr);
#endif
    }
};

QTEST_GUILESS_MAIN(TestUsbNotification)
#include "test_usb_notification.moc"
