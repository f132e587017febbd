// One device, one program of ours at a time: norvak-flash-cli and the window, each reaching
// the device by another name (its /dev/pts path, a link as /dev/serial/by-id has), run as root
// and as another user; a holder that is no program of ours; holders that were killed, and the
// window asked to end by a signal, which leaves the device to the next user.

#include "link/control/port_claim.h"
#include "tests/support/device_rig.h"
#include "tools/simdevice/simdevice.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace norvak;
using namespace std::chrono_literals;

class TestFaultsExclusivePort : public QObject {
    Q_OBJECT

private slots:
    void twoRunsByTwoNamesOfOneDevice_data();
    void twoRunsByTwoNamesOfOneDevice();
    void windowAndCliOnOneDevice();
    void holderThatIsNoProgramOfOursIsNamed();
    void killedHolderDoesNotRefuseTheNext();
    void windowEndedBySignalLeavesTheDeviceToAnotherUser_data();
    void windowEndedBySignalLeavesTheDeviceToAnotherUser();
    void windowKilledOutrightLeavesItsLockFileToRoot();
};

namespace {

constexpr uid_t nobody = 65534;
constexpr gid_t nobodyGroup = 65534;
constexpr int couldNotDropRoot = 97;
const QString cliPath = QStringLiteral(NORVAK_CLI);
const QString windowChildPath = QStringLiteral(NORVAK_WINDOW_CHILD);

// A device that never answers: a run holds its port through the whole countdown.
struct SilentDevice {
    SilentDevice() {
        QVERIFY(dir.isValid());
        SimDeviceConfig config;
        config.silent = true;
        config.linkPath =
            dir.filePath(QStringLiteral("usb-Norvak_Adapter-if00-port0")).toStdString();
        device = std::make_unique<SimDevice>(config);
    }
    [[nodiscard]] QString path() const { return QString::fromStdString(device->slavePath()); }
    [[nodiscard]] QString link() const { return QString::fromStdString(device->config().linkPath); }
    // Hands the device to nobody, as udev hands an adapter to its user.
    void giveToNobody() const {
        QCOMPARE(::chown(QFile::encodeName(path()).constData(), nobody, nobodyGroup), 0);
        QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeGroup |
                                                      QFile::ExeOther));
    }

    QTemporaryDir dir;
    std::unique_ptr<SimDevice> device;
};

// Ends a child the test left running, a failed check's included: asked first, so that it
// closes its port and leaves no lock file of root's to refuse a later test on the same
// pseudo-terminal number; killed if it does not end.
struct KillWhenDone {
    void operator()(QProcess* process) const {
        process->terminate();
        if (!process->waitForFinished(10'000)) {
            process->kill();
            process->waitForFinished(10'000);
        }
        delete process;
    }
};
using Child = std::unique_ptr<QProcess, KillWhenDone>;

Child start(const QString& program, const QStringList& arguments, bool asNobody) {
    Child process(new QProcess);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("HOME"), QDir::tempPath());
    process->setProcessEnvironment(environment);
    if (asNobody) {
        process->setChildProcessModifier([] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(nobodyGroup) != 0 ||
                ::setuid(nobody) != 0) {
                ::_exit(couldNotDropRoot);
            }
        });
    }
    process->start(program, arguments);
    return process;
}

Child startCli(const QString& device, bool asNobody = false) {
    return start(cliPath,
                 {"program", "--device", device, "--file", faults::firmwarePath("small-lf.srec")},
                 asNobody);
}

// Whether the process holds the device, as the serial control names holders.
bool holds(const QString& device, const QProcess& process) {
    return port_claim::holderOf(device).endsWith(
        QStringLiteral("(pid %1)").arg(process.processId()));
}

bool waitUntilHolding(const QString& device, QProcess& process) {
    // Also makes the process's state Running: it may hold the device before the start is seen.
    if (!process.waitForStarted(30'000)) {
        return false;
    }
    QDeadlineTimer deadline(30s);
    while (!holds(device, process)) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning) {
            return false;
        }
        QTest::qWait(20);
    }
    return true;
}

// The refused run's exit status and what it wrote to standard error.
std::pair<int, QString> finish(QProcess& process) {
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit) {
        return {-1, {}};
    }
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardError())};
}

QString ourProgramAndPid() {
    return QStringLiteral("%1 (pid %2)")
        .arg(QFileInfo(QCoreApplication::arguments().value(0)).fileName())
        .arg(QCoreApplication::applicationPid());
}

QString inUseText(const QString& name, const QString& holder) {
    return QStringLiteral("Port 1 (%1) is in use by %2. Close the other program, or choose "
                          "another port number.")
        .arg(name, holder);
}

// The window of the given user connects by the given name and ends; what it printed.
QString connectWindow(const QString& device, bool asNobody) {
    const auto window = start(windowChildPath, {"--connect", device}, asNobody);
    if (!window->waitForFinished(30'000) || window->exitCode() == couldNotDropRoot) {
        return {};
    }
    return QString::fromLocal8Bit(window->readAllStandardOutput() + window->readAllStandardError());
}

// The window of root (the test's user) in a run on the line, waiting for the boot program
// and sending it wake-up characters.
Child startWindowRun(const SilentDevice& line) {
    auto window =
        start(windowChildPath, {line.path(), faults::firmwarePath("small-lf.srec"), "0"}, false);
    if (!waitUntilHolding(line.path(), *window)) {
        return window;
    }
    QDeadlineTimer deadline(30s);
    while (line.device->recording().received.size() < 3 && !deadline.hasExpired()) {
        QTest::qWait(20);
    }
    return window;
}

// Qt's lock file for a device: /var/lock/LCK.. and the path below /dev, "/" as "_".
QString qtLockFile(const QString& devicePath) {
    QString name = devicePath.mid(QStringLiteral("/dev/").size());
    return QStringLiteral("/var/lock/LCK..") + name.replace(QLatin1Char('/'), QLatin1Char('_'));
}

const QString connectedText = QStringLiteral("caption: Norvak Flash Programmer, Connect: True");

void stop(QProcess& process) {
    process.terminate();
    process.waitForFinished(30'000);
}

} // namespace

void TestFaultsExclusivePort::twoRunsByTwoNamesOfOneDevice_data() {
    QTest::addColumn<bool>("asNobody");
    QTest::newRow("the test's user (root in CI)") << false;
    QTest::newRow("nobody") << true;
}

// As root the system's exclusive mode of the tty stops nobody; as another user it does. Either
// way the second run is refused before it touches the line, and the first one is named.
void TestFaultsExclusivePort::twoRunsByTwoNamesOfOneDevice() {
    QFETCH(bool, asNobody);
    if (asNobody && ::geteuid() != 0) {
        QSKIP("switching to another user takes root");
    }
    SilentDevice line;
    if (asNobody) {
        line.giveToNobody();
    }
    const auto first = startCli(line.path(), asNobody);
    if (!waitUntilHolding(line.path(), *first)) {
        if (first->exitCode() == couldNotDropRoot || first->error() == QProcess::FailedToStart) {
            QSKIP("the program cannot be run as another user here");
        }
        QFAIL(first->readAllStandardError().constData());
    }
    const auto second = startCli(line.link(), asNobody);
    const auto [status, errors] = finish(*second);
    QCOMPARE(status, 4);
    const QString expected =
        inUseText(line.link(), QStringLiteral("norvak-flash-cli (pid %1)").arg(first->processId()));
    QVERIFY2(errors.contains(expected), qPrintable(errors));
    QCOMPARE(first->state(), QProcess::Running);
    QVERIFY(holds(line.path(), *first));
    stop(*first);
}

// The window in this process, the command line in another, the device by two names.
void TestFaultsExclusivePort::windowAndCliOnOneDevice() {
    SimDeviceConfig silent;
    silent.silent = true;
    faults::DeviceRig rig(silent);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("by-id-link"));
    const QString path = QString::fromStdString(rig.device().slavePath());
    QVERIFY(QFile::link(path, link));

    rig.pressConnect();
    QVERIFY2(rig.portOpen(), qPrintable(rig.caption()));
    const auto refused = startCli(link);
    const auto [status, errors] = finish(*refused);
    QCOMPARE(status, 4);
    QVERIFY2(errors.contains(inUseText(link, ourProgramAndPid())), qPrintable(errors));
    QVERIFY(rig.portOpen());

    rig.pressConnect(); // Disconnect
    const auto running = startCli(link);
    QVERIFY(waitUntilHolding(path, *running));
    rig.pressConnect();
    QVERIFY(!rig.portOpen());
    const QString caption = rig.caption();
    QVERIFY2(faults::errorCaption.match(caption).hasMatch(), qPrintable(caption));
    const QString expected =
        inUseText(path, QStringLiteral("norvak-flash-cli (pid %1)").arg(running->processId()));
    QVERIFY2(caption.endsWith(expected), qPrintable(caption));
    QCOMPARE(running->state(), QProcess::Running);
    stop(*running);
}

// A modem manager or a braille daemon probing the adapter holds it open in the system's
// exclusive mode, without our claim: another user is refused by the system, and told who.
void TestFaultsExclusivePort::holderThatIsNoProgramOfOursIsNamed() {
    if (::geteuid() != 0) {
        QSKIP("switching to another user takes root");
    }
    SilentDevice line;
    line.giveToNobody();
    const QByteArray device = QFile::encodeName(line.path());
    Child prober(new QProcess);
    prober->setChildProcessModifier([&device] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobodyGroup) != 0 || ::setuid(nobody) != 0) {
            ::_exit(couldNotDropRoot);
        }
        const int held = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (held < 0 || ::ioctl(held, TIOCEXCL) != 0) {
            ::_exit(couldNotDropRoot + 1);
        }
    });
    prober->start(QStringLiteral("sleep"), {QStringLiteral("60")});
    QVERIFY(prober->waitForStarted());
    QTest::qWait(200); // until it is sleep that holds the device, not the forked test

    const auto window = start(windowChildPath, {"--connect", line.link()}, true);
    QVERIFY(window->waitForFinished(30'000));
    if (window->exitCode() == couldNotDropRoot) {
        QSKIP("the window cannot be run as another user here");
    }
    const QString output = QString::fromLocal8Bit(window->readAllStandardOutput());
    QVERIFY2(
        output.contains(QStringLiteral("is in use by sleep (pid %1)").arg(prober->processId())),
        qPrintable(output + window->readAllStandardError()));
    QVERIFY(output.contains(QStringLiteral("port open: 0")));
}

// The command line killed outright leaves nothing behind that refuses the next opener of the
// same user. Root only: a pseudo-terminal, unlike an adapter, keeps the exclusive mode a killed
// holder set for as long as its device side is open.
void TestFaultsExclusivePort::killedHolderDoesNotRefuseTheNext() {
    if (::geteuid() != 0) {
        QSKIP("a pseudo-terminal keeps a killed holder's exclusive mode, which only root passes");
    }
    SimDeviceConfig silent;
    silent.silent = true;
    faults::DeviceRig rig(silent);
    const QString path = QString::fromStdString(rig.device().slavePath());
    const auto cli = startCli(path);
    QVERIFY(waitUntilHolding(path, *cli));
    cli->kill();
    QVERIFY(cli->waitForFinished(30'000));
    rig.pressConnect();
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: True"));
}

void TestFaultsExclusivePort::windowEndedBySignalLeavesTheDeviceToAnotherUser_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM (killed)") << SIGTERM;
    QTest::newRow("SIGHUP (its terminal closed)") << SIGHUP;
    QTest::newRow("SIGINT (Ctrl-C)") << SIGINT;
}

// Root's window asked to end in the middle of a run closes as its close button closes it:
// nothing more goes to the device, and the port is closed, so that neither Qt's lock file nor
// the exclusive mode of the line is left to refuse another user, by another name.
void TestFaultsExclusivePort::windowEndedBySignalLeavesTheDeviceToAnotherUser() {
    QFETCH(int, signalNumber);
    if (::geteuid() != 0) {
        QSKIP("switching to another user takes root");
    }
    SilentDevice line;
    line.giveToNobody();
    const auto window = startWindowRun(line);
    QCOMPARE(window->state(), QProcess::Running);
    QVERIFY(line.device->recording().received.size() >= 3);

    ::kill(static_cast<pid_t>(window->processId()), signalNumber);
    QVERIFY(window->waitForFinished(30'000));
    const QString output = QString::fromLocal8Bit(window->readAllStandardOutput());
    QCOMPARE(window->exitStatus(), QProcess::NormalExit);
    QCOMPARE(window->exitCode(), 128 + signalNumber);
    QVERIFY2(output.contains(QStringLiteral("writes after close: 0")), qPrintable(output));
    QVERIFY(!QFile::exists(qtLockFile(line.path())));

    const QString byNobody = connectWindow(line.link(), true);
    if (byNobody.isEmpty()) {
        QSKIP("the window cannot be run as another user here");
    }
    QVERIFY2(byNobody.contains(connectedText), qPrintable(byNobody));
}

// What a signal cannot mend: root's window killed outright leaves Qt's lock file, which another
// user may not remove from the sticky lock folder (on a pseudo-terminal the kept exclusive mode
// refuses first). Root's next opening finds the file stale, removes it and closes cleanly.
void TestFaultsExclusivePort::windowKilledOutrightLeavesItsLockFileToRoot() {
    if (::geteuid() != 0) {
        QSKIP("switching to another user takes root");
    }
    SilentDevice line;
    line.giveToNobody();
    const auto window = startWindowRun(line);
    QCOMPARE(window->state(), QProcess::Running);
    window->kill();
    QVERIFY(window->waitForFinished(30'000));
    // Whatever fails below, root's opening takes the file away again before the next test.
    const auto removeLockFile =
        qScopeGuard([&line] { static_cast<void>(connectWindow(line.path(), false)); });
    const QString lockFile = qtLockFile(line.path());
    QVERIFY2(QFileInfo(lockFile).exists(), qPrintable(lockFile));
    QCOMPARE(QFileInfo(lockFile).ownerId(), 0U);

    const QString refused = connectWindow(line.link(), true);
    if (refused.isEmpty()) {
        QSKIP("the window cannot be run as another user here");
    }
    QVERIFY2(refused.contains(QStringLiteral("port open: 0")), qPrintable(refused));
    QVERIFY(QFile::exists(lockFile));

    const QString byRoot = connectWindow(line.path(), false);
    QVERIFY2(byRoot.contains(connectedText), qPrintable(byRoot));
    QVERIFY(!QFile::exists(lockFile));
    const QString byNobody = connectWindow(line.link(), true);
    QVERIFY2(byNobody.contains(connectedText), qPrintable(byNobody));
}

QTEST_MAIN(TestFaultsExclusivePort)
#include "test_exclusive_port.moc"
