#include "app/VoskelApp.h"

#include "app/SingleInstance.h"
#include "app/Startup.h"
#include "app/design/Fonts.h"
#include "app/design/Theme.h"
#include "app/parts/Preferences.h"
#include "app/shell/ContentView.h"
#include "app/shell/MenuBarExtra.h"
#include "app/shell/Scenes.h"
#include "platform/DiskLook.h"
#include "platform/Pools.h"
#include "platform/ProcessRunner.h"
#include "platform/Settings.h"
#include "store/AppStore.h"
#include "toolchain/ToolchainStore.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QIcon>

#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

VoskelApp::VoskelApp(std::unique_ptr<Platform::Settings> settings)
    : m_settings(settings ? std::move(settings) : Platform::Settings::standard()),
      m_preferences(std::make_unique<Preferences>(*m_settings))
{
}

VoskelApp::~VoskelApp()
{
    // Windows first, then what they show.
    m_scenes.reset();
    m_toolchain.reset();
    m_store.reset();
}

AppStore& VoskelApp::store()
{
    if (!m_store)
        m_store = std::make_unique<AppStore>(*m_settings);
    return *m_store;
}

ToolchainStore& VoskelApp::toolchain()
{
    if (!m_toolchain)
        m_toolchain = std::make_unique<ToolchainStore>(*m_settings);
    return *m_toolchain;
}

Scenes& VoskelApp::scenes()
{
    if (!m_scenes)
        m_scenes = std::make_unique<Scenes>(
            *m_preferences, Scenes::Stores{[this]() -> AppStore& { return store(); },
                                           [this]() -> ToolchainStore& { return toolchain(); }});
    return *m_scenes;
}

namespace {

int signalPipe[2] = {-1, -1};

void askToQuit(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// A session that ends (SIGTERM) or a Ctrl+C in the terminal (SIGINT) quits like the Quit command, so
// the way out still ends every child the windows started.
void quitOnTerminationSignals(QObject* context)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    Startup::onStopSignals(askToQuit);
}

QtMessageHandler beforeDisplayCheck = nullptr;

// Qt ends the process with abort() when the display the environment names does not answer (a stale
// DISPLAY over ssh, say); that is the same news as having no display at all, not a crash.
void displayDoesNotAnswer(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        if (beforeDisplayCheck)
            beforeDisplayCheck(type, context, message);
        else
            std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
        return;
    }
    std::fprintf(stderr, "voskel: the display does not answer, so there is no window to open. Without one, "
                         "`voskel --dump all` prints what every runtime reports.\n");
    std::fflush(stderr);
    std::_Exit(1);
}

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int VoskelApp::run(int argc, char** argv)
{
    if (!hasDisplay()) {
        std::fprintf(stderr, "voskel: there is no display to open the window on. Without one, "
                             "`voskel --dump all` prints what every runtime reports.\n");
        return 1;
    }
    beforeDisplayCheck = qInstallMessageHandler(displayDoesNotAnswer);
    QApplication app(argc, argv);
    qInstallMessageHandler(beforeDisplayCheck);
    // What Qt did not take as its own (-platform, -session, ...) the window has no use for.
    if (const std::optional<QString> problem =
            Startup::argumentProblem(QCoreApplication::arguments().mid(1))) {
        std::fputs(problem->toLocal8Bit().constData(), stderr);
        return 2;
    }
    QApplication::setApplicationName(QStringLiteral("voskel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Voskel"));
    QApplication::setOrganizationName(QStringLiteral("voskel"));
    // The tray icon keeps the application when its window closes; the scenes decide when to quit.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Role::first:
        break;
    case SingleInstance::Role::handedOver:
        return 0;
    case SingleInstance::Role::unanswered:
        std::fprintf(stderr, "voskel: another Voskel is running but does not answer.\n");
        return 1;
    }

    quitOnTerminationSignals(&app);
    registerBundledFonts();
    Theme::instance().install(true);
    int status = 0;
    QDeadlineTimer wayOut;
    {
        VoskelApp voskel;
        QApplication::setWindowIcon(MenuBarExtra::icon());
        Scenes& scenes = voskel.scenes();
        QObject::connect(&instance, &SingleInstance::knocked, &scenes, &Scenes::showMainWindow);
        scenes.showMainWindow();
        status = app.exec();
        wayOut = scenes.wayOut().isForever() ? QDeadlineTimer(Platform::Pools::wayOutLimit) : scenes.wayOut();
    }
    // Nothing the windows started outlives them: children are ended, looks at folders given up (their
    // servers are left to end by themselves), the pools drained. A job that cannot be ended (a move to
    // the Trash) is not waited for past the way out's time; the process then ends at once, as its end
    // would take down what the job may still touch. The settings were written when the stores went.
    Platform::endRunningChildren();
    Platform::giveUpLooks();
    if (!Platform::Pools::drain(wayOut))
        endAtOnce(instance, status);
    return status;
}

void VoskelApp::endAtOnce(SingleInstance& instance, int status)
{
    Startup::letGoOfStreams();
    instance.letGo();
    std::_Exit(status);
}
