#include "host/app/DesktopEdit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "drive/link/SimulatedDriveLink.h"
#include "host/app/Folders.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/MotorDatabase.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/qt/QtBackend.h"

namespace {

// The help file the host names: the map of topics in the help folder.
constexpr const char* kHelpTopicsFile = "topics.json";
// How often the simulated drive catches up with the wall clock: twice per tick of a test.
constexpr int kDriveClockPeriod_ms = 10;
constexpr double kNanosecondsPerSecond = 1e9;

bool IsSet(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

QtMessageHandler& QtDefaultMessageHandler() {
    static QtMessageHandler handler = nullptr;
    return handler;
}

// Qt ends the process when it cannot reach the display it was given; say why and fail instead.
void ExitOnFatalQtMessage(QtMsgType type, const QMessageLogContext& context,
                          const QString& message) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "brevan: the desktop cannot be opened: %s\n",
                     message.toLocal8Bit().constData());
        std::_Exit(kExitFailure);
    }
    QtDefaultMessageHandler()(type, context, message);
}

}  // namespace

std::optional<int> EditOnDesktop(CommandContext& context, const DesktopFolders& folders,
                                 drive::SimulatedDriveLink* link) {
    if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY") && !IsSet("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "brevan: edit shows the setup dialogs in windows, but there is no display "
                     "(neither DISPLAY nor WAYLAND_DISPLAY is set); run it on a desktop, or "
                     "give --script FILE to edit without one\n");
        return std::nullopt;
    }
    QtDefaultMessageHandler() = qInstallMessageHandler(ExitOnFatalQtMessage);
    int argc = 1;
    char programName[] = "brevan";
    char* argv[] = {programName, nullptr};
    const QApplication application(argc, argv);

    ui::SetResourceDirectory(folders.resources);
    qel::SetMotorDatabaseFiles(folders.resources / kSystemMotorDatabase, {});
    qel::SetGUIDirectory(folders.help.string());
    qel::SetHelpFileOfGUI(kHelpTopicsFile);
    ui::qt::QtBackend backend;
    const ui::qt::Installation installed(backend);

    // The drive lives in real time: each tick lets the wall time since the last one pass on it.
    QTimer driveClock;
    QElapsedTimer wall;
    qint64 advanced_ns = 0;
    if (link != nullptr) {
        QObject::connect(&driveClock, &QTimer::timeout, [&wall, &advanced_ns, link] {
            const qint64 now_ns = wall.nsecsElapsed();
            link->Advance(static_cast<double>(now_ns - advanced_ns) / kNanosecondsPerSecond);
            advanced_ns = now_ns;
        });
        wall.start();
        driveClock.start(kDriveClockPeriod_ms);
    }
    return context.module.GetEditSetup()(&context.setup);
}
