#pragma once

#include "platform/PreparedProcess.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <ostream>

class QProcess;

// Lets failing expectations print texts as text.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace TestSupport {

// A name no other test run uses: the run prefix, then `what`. Engine objects carry it so that
// parallel runs never touch each other's containers.
QString uniqueName(const QString& what);
QString runPrefix();

// Writes `text` to `path`, making the folders on the way; a failure fails the test.
void writeFile(const QString& path, const QString& text);

// The small image the engine script builds locally (there is no registry).
QString testImage();

// The registry the engine script runs for the tests: on a loopback port, so the engine talks to it
// without TLS, with one user and a password made up when it was set up.
struct TestRegistry {
    QString address; // host:port, for `docker login` and as the first part of a reference
    QString username;
    QString password;
};

// Read from the file the engine script writes (under VOSKEL_ENGINE_STATE, else /var/tmp/voskel-engine);
// none when the script has not set a registry up there.
std::optional<TestRegistry> testRegistry();

// Whether a Docker engine answers `docker info`; asked once per process.
bool engineAnswers();
// Set by the test script: a missing engine fails the engine tests instead of skipping them.
bool engineRequired();

// A docker command for a test's own set-up and clean-up.
Platform::Capture docker(const QStringList& args, const std::optional<QString>& cwd = std::nullopt);

// What a test makes on the engine, removed again however the test ends. Each name goes in before the
// command that makes it runs, so a command that fails half-way (a container created, then not started
// for want of an address) leaves nothing behind either:
//     made.containers << uniqueName("web");
//     ASSERT_EQ(docker({"run", "-d", "--network", "none", "--name", made.containers.last(), ...}).status, 0);
// Removed in an order the engine takes: containers, with every container of a listed compose project
// (by its label), then networks (a project's by its label), volumes (a project's too), images and
// contexts. Only names with the run prefix belong here: what else is on the engine stays, and a project
// without a name is passed over, as its label would gather every nameless container there.
struct EngineObjects {
    QStringList containers;
    QStringList volumes;
    QStringList networks;
    QStringList images;
    QStringList projects;
    QStringList contexts;

    EngineObjects() = default;
    ~EngineObjects() { removeAll(); }
    EngineObjects(const EngineObjects&) = delete;
    EngineObjects& operator=(const EngineObjects&) = delete;

    // Removes everything listed so far, now, and empties the lists.
    void removeAll();
};

// Whether a deletion plan's notes (or the plan mode's output) say that what others do on the shared
// engine keeps the folder from the Trash: a folder a container of someone else's uses does not answer,
// another project's compose files cannot be read, someone else's container binds a folder above all of
// ours, or the engine, busy with their containers coming and going, could not say which volumes are
// mounted; or they name anything this test did not make (strangersNamedIn). Then, rightly, no folder is
// offered for the Trash, and an offer cannot be looked for.
bool stalledElsewhere(const QStringList& notes);

// What `said` names that this test did not make, each once: a container, compose project or volume on
// the engine, or the folder such a project was started in, found as a whole word (or path); and any
// name of another run of these tests, even one gone since. Strangers are whatever is not named with
// this run's prefix, whoever made them and whatever they are called.
QStringList strangersNamedIn(const QString& said);

// Of `holds` (how something holds a volume, one sentence each), those that name something this test
// did not make, joined: a stranger that cannot be read may name any volume on the engine, and then no
// volume of the test's can be removed, rightly.
QString strangerHolds(const QStringList& holds);

// Skips the running test, saying why, when `held` (strangerHolds) is not empty.
#define VOSKEL_SKIP_WHEN_STRANGERS_HOLD(held)                                                                \
    if (const QString strangersSaid = (held); !strangersSaid.isEmpty())                                      \
    GTEST_SKIP() << "not judged: what this test made is held by what it did not make: "                      \
                 << strangersSaid.toStdString()

// The compose service lines that keep a test's service off every network: a project of its own would
// otherwise make a network, and the engine has few address ranges for them when many are up at once.
inline constexpr const char* noNetwork = "    network_mode: none\n";

// The text of a file under tests/fixtures.
QString fixture(const QString& relativePath);

// The `name` of every element, in order: what most assertions on a list compare.
template <typename List>
QStringList names(const List& list)
{
    QStringList out;
    for (const auto& item : list)
        out << item.name;
    return out;
}

// The `id()` of every element, in order.
template <typename List>
QStringList ids(const List& list)
{
    QStringList out;
    for (const auto& item : list)
        out << item.id();
    return out;
}

// Runs the event loop until `predicate` holds; false when it still does not after `timeoutMs`. The
// limit is generous: the engine answers slowly while other runs share it, and a predicate that holds
// returns at once.
template <typename Predicate>
bool eventually(Predicate predicate, int timeoutMs = 60000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Whether `pid` names a process that still runs; a zombie has ended, whoever is left to reap it.
bool processRuns(qint64 pid);

// Whether the runners still know the group (its keeper's number), so the way out would end it. Tests
// look at their own groups rather than at counts: what an earlier test let go may still be going.
bool groupListed(qint64 group);

// The running processes whose working directory is `dir`: the docker client and its compose plugin
// reading a project there.
QList<qint64> processesWorkingIn(const QString& dir);

// Sets (or, with nullopt, unsets) an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<QByteArray>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    QByteArray m_name;
    std::optional<QByteArray> m_old;
};

// A client configuration of the test's own for the life of the object (DOCKER_CONFIG), so a login
// stores its credentials there and never in the user's; the client's own current context is used.
class PrivateDockerConfig {
public:
    PrivateDockerConfig();
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    ScopedEnv m_config;
    ScopedEnv m_context;
};

// `/bin/sh -c script`, for tests of the process runners.
Platform::PreparedProcess shell(const QString& script);

// The process id a script wrote to `path` (`echo $! > path`); -1 when there is none.
qint64 pidFromFile(const QString& path);
// Whether the process has ended within `waitMs`; a reparented zombie is reaped by init soon after.
bool processGone(qint64 pid, int waitMs = 3000);

// A folder on a mount that stops answering (StallingMount.cpp), for the life of the object: a thread
// that looks at stalledPath() waits in the kernel, where even a kill cannot end it, until release() or
// the object's end lets every such look return. Mounting needs the right to: without it whyNot() says
// why, and the tests that need one skip. `onlyHere`: it stalls only this process and what it starts,
// and is not there for any other (a folder a container names on a shared engine should not hold up the
// plans of other runs), but for a look at the very path one of ours is held at, which the kernel makes
// wait for that one.
class StalledFolder {
public:
    explicit StalledFolder(bool onlyHere = false);
    ~StalledFolder();
    StalledFolder(const StalledFolder&) = delete;
    StalledFolder& operator=(const StalledFolder&) = delete;

    std::optional<QString> whyNot() const { return m_whyNot; }
    QString stalledPath() const;
    void release();
    // The processes (by their waiting threads) held at the mount so far, as the mount itself saw them.
    QSet<qint64> held();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_mount;
    std::optional<QString> m_whyNot;
    QByteArray m_said;
    QSet<qint64> m_held;
};

// Holds every look at exactly `folder` (in this process and its look servers) as a mount that stalls
// would, until release(), the object's end, or `limit`. held() counts the looks it has held.
class HeldLooks {
public:
    explicit HeldLooks(const QString& folder, std::chrono::milliseconds limit = std::chrono::seconds(30));
    ~HeldLooks();
    HeldLooks(const HeldLooks&) = delete;
    HeldLooks& operator=(const HeldLooks&) = delete;

    int held() const { return *m_held; }
    void release() { *m_released = true; }

private:
    std::shared_ptr<std::atomic_bool> m_released = std::make_shared<std::atomic_bool>(false);
    std::shared_ptr<std::atomic_int> m_held = std::make_shared<std::atomic_int>(0);
};

// One program of the test's own, `script` written as `name`, put first on every child's search path
// for the life of the object.
class ScriptedTool {
public:
    ScriptedTool(const QString& name, const QByteArray& script);
    ~ScriptedTool();
    ScriptedTool(const ScriptedTool&) = delete;
    ScriptedTool& operator=(const ScriptedTool&) = delete;

private:
    QTemporaryDir m_bin;
};

// Fake programs put first on every child's search path. Each named tool runs tests/support/fake-tool,
// which answers from fixture files under dir()/<tool>/ or acts as VOSKEL_FAKE_MODE says.
class FakeTools {
public:
    explicit FakeTools(const QStringList& tools);
    ~FakeTools();

    QString dir() const { return m_bin.path(); }
    // Writes what `tool args...` prints: standard output, and optionally error output and status.
    void answer(const QString& tool, const QStringList& args, const QString& out, const QString& err = {},
                int status = 0) const;
    void answerBytes(const QString& tool, const QStringList& args, const QByteArray& out,
                     const QByteArray& err, int status) const;
    // Makes `tool args...` hang until it is ended.
    void hang(const QString& tool, const QStringList& args) const;
    // The invocations so far, one "tool arg arg" line each.
    QStringList calls() const;

private:
    QTemporaryDir m_bin;
    ScopedEnv m_fixtures;
    ScopedEnv m_log;
};

// The group of the containers whose project label is empty gathers every such container on the engine,
// whoever made it, and what is done to the group may reach the networks labelled alike. A test that
// acts on the group holds this for its length, so the tests of this suite take turns rather than meet
// there; what others put there is named by strangers(), for the test to leave alone.
class NamelessGroup {
public:
    NamelessGroup();
    ~NamelessGroup();
    NamelessGroup(const NamelessGroup&) = delete;
    NamelessGroup& operator=(const NamelessGroup&) = delete;

    // The containers and networks with an empty project label on the engine, by name, but for `own`.
    static QStringList strangers(const QStringList& own = {});

private:
    int m_lock = -1;
};

// A container that binds the root of the file system uses every folder of the machine: while one
// stands on the shared engine, no folder anywhere is offered for the Trash. A test that makes one
// holds this exclusively for its length; a test that needs a folder offered holds it shared, so the
// two take turns. Bounded as the nameless group's turn is.
class RootBindTurn {
public:
    explicit RootBindTurn(bool exclusive);
    ~RootBindTurn();
    RootBindTurn(const RootBindTurn&) = delete;
    RootBindTurn& operator=(const RootBindTurn&) = delete;

private:
    int m_lock = -1;
};

} // namespace TestSupport

// Skips the test when the nameless group holds `strangers` (names), things the test did not make:
// acting on the group would act on them too.
#define VOSKEL_SKIP_FOR_STRANGERS(strangers)                                                                 \
    do {                                                                                                     \
        const QStringList voskelStrangers = (strangers);                                                     \
        if (!voskelStrangers.isEmpty())                                                                      \
            GTEST_SKIP()                                                                                     \
                << "this engine holds containers or networks with an empty project label that this "         \
                   "test did not make ("                                                                     \
                << voskelStrangers.join(QStringLiteral(", ")).toStdString()                                  \
                << "); it acts on that group only on an engine of its own";                                  \
    } while (false)

#define VOSKEL_REQUIRE_REGISTRY()                                                                            \
    do {                                                                                                     \
        VOSKEL_REQUIRE_ENGINE();                                                                             \
        if (!TestSupport::testRegistry()) {                                                                  \
            if (TestSupport::engineRequired())                                                               \
                FAIL() << "the engine script set up no test registry (scripts/engine.sh up)";                \
            GTEST_SKIP() << "no test registry";                                                              \
        }                                                                                                    \
    } while (false)

#define VOSKEL_REQUIRE_ENGINE()                                                                              \
    do {                                                                                                     \
        if (!TestSupport::engineAnswers()) {                                                                 \
            if (TestSupport::engineRequired())                                                               \
                FAIL() << "no Docker engine answers, and the test run requires one";                         \
            GTEST_SKIP() << "no Docker engine answers";                                                      \
        }                                                                                                    \
    } while (false)
