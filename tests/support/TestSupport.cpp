#include "support/TestSupport.h"

#include "engine/Container.h"
#include "engine/Docker.h"
#include "platform/DiskLook.h"
#include "platform/KeptChild.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace TestSupport {

namespace {

// The fake tool's own file name for an invocation: byte by byte, as its `tr` and `cut` work, so an
// argument beyond ASCII finds the same file.
QString fileKey(const QStringList& args)
{
    QByteArray key = args.join(QLatin1Char(' ')).toUtf8().left(200);
    for (char& c : key) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '.' || c == '_' || c == '-';
        if (!safe)
            c = '_';
    }
    return key.isEmpty() ? QStringLiteral("_") : QString::fromLatin1(key);
}

} // namespace

QString runPrefix()
{
    static const QString prefix = QStringLiteral("vsk%1%2")
                                      .arg(QCoreApplication::applicationPid())
                                      .arg(QRandomGenerator::global()->bounded(1000, 9999));
    return prefix;
}

void writeFile(const QString& path, const QString& text)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(text.toUtf8());
}

QString uniqueName(const QString& what)
{
    static std::atomic<int> counter{0};
    return QStringLiteral("%1-%2-%3").arg(runPrefix()).arg(++counter).arg(what);
}

QString testImage()
{
    const QString fromEnv = qEnvironmentVariable("VOSKEL_TEST_IMAGE");
    return fromEnv.isEmpty() ? QStringLiteral("voskel-test/busybox:latest") : fromEnv;
}

std::optional<TestRegistry> testRegistry()
{
    QString state = qEnvironmentVariable("VOSKEL_ENGINE_STATE");
    if (state.isEmpty())
        state = QStringLiteral("/var/tmp/voskel-engine");
    QFile file(state + QStringLiteral("/registry/credentials"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    TestRegistry registry;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.left(equals);
        const QString value = QString::fromUtf8(line.mid(equals + 1));
        if (key == "address")
            registry.address = value;
        else if (key == "username")
            registry.username = value;
        else if (key == "password")
            registry.password = value;
    }
    if (registry.address.isEmpty() || registry.username.isEmpty() || registry.password.isEmpty())
        return std::nullopt;
    return registry;
}

bool engineAnswers()
{
    static const bool answers = [] {
        const Platform::Capture info = docker(
            {QStringLiteral("info"), QStringLiteral("--format"), QStringLiteral("{{.ServerVersion}}")});
        return info.status == 0 && !info.out.trimmed().isEmpty();
    }();
    return answers;
}

bool engineRequired()
{
    return qEnvironmentVariable("VOSKEL_REQUIRE_ENGINE") == u"1";
}

Platform::Capture docker(const QStringList& args, const std::optional<QString>& cwd)
{
    return Docker::capture(args, std::nullopt, cwd);
}

QString fixture(const QString& relativePath)
{
    QFile file(QStringLiteral(VOSKEL_FIXTURES) + QLatin1Char('/') + relativePath);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "missing fixture " << relativePath.toStdString();
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

void EngineObjects::removeAll()
{
    const auto labelled = [](const QStringList& list, const QString& project) {
        return docker(list + QStringList{"-q", "--filter",
                                         QStringLiteral("label=%1=%2").arg(Docker::projectLabel, project)})
            .out.split('\n', Qt::SkipEmptyParts);
    };
    for (const QString& project : std::as_const(projects)) {
        if (project.isEmpty())
            continue;
        containers << labelled({"ps", "-a"}, project);
        networks << labelled({"network", "ls"}, project);
        volumes << labelled({"volume", "ls"}, project);
    }
    if (!containers.isEmpty())
        docker(QStringList{"rm", "-f", "-v"} + containers);
    if (!networks.isEmpty())
        docker(QStringList{"network", "rm"} + networks);
    if (!volumes.isEmpty())
        docker(QStringList{"volume", "rm", "-f"} + volumes);
    if (!images.isEmpty())
        docker(QStringList{"rmi", "-f"} + images);
    for (const QString& context : std::as_const(contexts))
        docker({"context", "rm", "-f", context});
    for (QStringList* list : {&containers, &volumes, &networks, &images, &projects, &contexts})
        list->clear();
}

bool stalledElsewhere(const QStringList& notes)
{
    return std::any_of(notes.cbegin(), notes.cend(), [](const QString& note) {
        const qsizetype user =
            std::max({note.indexOf(QLatin1StringView("used by ")), note.indexOf(QLatin1StringView(": what ")),
                      note.indexOf(QLatin1StringView(": the compose files of "))});
        return note.contains(QLatin1StringView("does not answer, and a link there may lead into it")) ||
               note.startsWith(
                   QLatin1StringView("The engine did not say which volumes the containers mount")) ||
               (user >= 0 && !note.mid(user).contains(runPrefix())) || !strangersNamedIn(note).isEmpty();
    });
}

namespace {

// Whether `name` stands in `said` on its own: not inside a longer name or path.
bool namedAsAWhole(const QString& said, const QString& name)
{
    const auto partOfName = [](QChar c) {
        return c.isLetterOrNumber() || c == u'_' || c == u'.' || c == u'-';
    };
    for (qsizetype at = said.indexOf(name); at >= 0; at = said.indexOf(name, at + 1)) {
        const qsizetype end = at + name.size();
        if ((at == 0 || !partOfName(said[at - 1])) && (end == said.size() || !partOfName(said[end])))
            return true;
    }
    return false;
}

} // namespace

QString strangerHolds(const QStringList& holds)
{
    QStringList said;
    for (const QString& hold : holds)
        if (!strangersNamedIn(hold).isEmpty())
            said << hold;
    return said.join(QStringLiteral("; "));
}

QStringList strangersNamedIn(const QString& said)
{
    const QString ours = runPrefix();
    QStringList candidates;
    // Another run of these tests, by the prefix every run gives its names.
    static const QRegularExpression otherRun(QStringLiteral("vsk[0-9]+-[A-Za-z0-9_.-]*"));
    for (const QRegularExpressionMatch& match : otherRun.globalMatch(said))
        if (!match.captured().startsWith(ours))
            candidates << match.captured();
    const Platform::Capture containers =
        docker({QStringLiteral("ps"), QStringLiteral("-a"), QStringLiteral("--format"),
                QStringLiteral("{{.Names}}\t{{.Label \"%1\"}}\t{{.Label \"%2\"}}")
                    .arg(QLatin1String(Docker::projectLabel), QLatin1String(Docker::workingDirLabel))});
    const Platform::Capture volumes = docker({QStringLiteral("volume"), QStringLiteral("ls"),
                                              QStringLiteral("--format"), QStringLiteral("{{.Name}}")});
    for (const QString& line : (containers.out + u'\n' + volumes.out).split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(u'\t');
        // A container is ours by its name; its project and folder go with it.
        if (fields.value(0).startsWith(ours))
            continue;
        for (const QString& field : fields)
            if (!field.isEmpty() && field != u"/" && !field.startsWith(ours))
                candidates << field;
    }
    QStringList named;
    for (const QString& candidate : std::as_const(candidates))
        if (!named.contains(candidate) && namedAsAWhole(said, candidate))
            named << candidate;
    return named;
}

PrivateDockerConfig::PrivateDockerConfig()
    : m_config("DOCKER_CONFIG", m_dir.path().toUtf8()), m_context("DOCKER_CONTEXT", std::nullopt)
{
}

bool processRuns(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return false;
    // The state letter follows the command name, which is in parentheses and may hold anything.
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && line.size() > close + 2 && line[close + 2] != 'Z';
}

bool groupListed(qint64 group)
{
    const auto children = Platform::keptChildren();
    return std::any_of(children.cbegin(), children.cend(),
                       [group](const auto& child) { return child->group() == group; });
}

QList<qint64> processesWorkingIn(const QString& dir)
{
    QList<qint64> found;
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number && processRuns(pid) &&
            QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget() == canonical)
            found << pid;
    }
    return found;
}

namespace {

// Takes the lock of `name`, one for every run on this machine (the kernel lets it go with a process
// that dies holding it), within a few minutes: the tests that hold one end within that. Past it the
// test goes on without, and -1 comes back.
int takeTurn(const QString& name, int operation)
{
    const QByteArray path = QFile::encodeName(QDir::tempPath() + u'/' + name);
    const int lock = ::open(path.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (lock < 0)
        return -1;
    QDeadlineTimer deadline(std::chrono::minutes(4));
    while (::flock(lock, operation | LOCK_NB) != 0) {
        if (deadline.hasExpired()) {
            ::close(lock);
            return -1;
        }
        QThread::msleep(200);
    }
    return lock;
}

} // namespace

NamelessGroup::NamelessGroup() : m_lock(takeTurn(QStringLiteral("voskel-nameless-group.lock"), LOCK_EX))
{
}

NamelessGroup::~NamelessGroup()
{
    if (m_lock >= 0)
        ::close(m_lock);
}

RootBindTurn::RootBindTurn(bool exclusive)
    : m_lock(takeTurn(QStringLiteral("voskel-root-bind.lock"), exclusive ? LOCK_EX : LOCK_SH))
{
}

RootBindTurn::~RootBindTurn()
{
    if (m_lock >= 0)
        ::close(m_lock);
}

QStringList NamelessGroup::strangers(const QStringList& own)
{
    const QString label = QStringLiteral("label=%1=").arg(QLatin1String(Docker::projectLabel));
    const Platform::Capture containers =
        docker({QStringLiteral("ps"), QStringLiteral("-a"), QStringLiteral("--filter"), label,
                QStringLiteral("--format"), QStringLiteral("{{.Names}}")});
    const Platform::Capture networks =
        docker({QStringLiteral("network"), QStringLiteral("ls"), QStringLiteral("--filter"), label,
                QStringLiteral("--format"), QStringLiteral("{{.Name}}")});
    if (containers.status != 0 || networks.status != 0)
        return {QStringLiteral("(the engine did not list them: %1)")
                    .arg((containers.err + networks.err).trimmed())};
    QStringList found;
    for (const QString& name : (containers.out + u'\n' + networks.out).split(u'\n', Qt::SkipEmptyParts))
        if (!own.contains(name))
            found << name;
    return found;
}

Platform::PreparedProcess shell(const QString& script)
{
    Platform::PreparedProcess prepared;
    prepared.program = QStringLiteral("/bin/sh");
    prepared.arguments = {QStringLiteral("-c"), script};
    return prepared;
}

qint64 pidFromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const qint64 pid = file.readAll().trimmed().toLongLong();
    return pid > 0 ? pid : -1;
}

bool processGone(qint64 pid, int waitMs)
{
    QDeadlineTimer deadline(waitMs);
    do {
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            return true;
        QThread::msleep(20);
    } while (!deadline.hasExpired());
    return false;
}

ScopedEnv::ScopedEnv(const char* name, const std::optional<QByteArray>& value) : m_name(name)
{
    if (qEnvironmentVariableIsSet(name))
        m_old = qgetenv(name);
    if (value)
        qputenv(name, *value);
    else
        qunsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (m_old)
        qputenv(m_name.constData(), *m_old);
    else
        qunsetenv(m_name.constData());
}

ScriptedTool::ScriptedTool(const QString& name, const QByteArray& script)
{
    QFile tool(m_bin.filePath(name));
    EXPECT_TRUE(tool.open(QIODevice::WriteOnly)) << name.toStdString();
    tool.write(script);
    tool.close();
    tool.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    Platform::setTestSearchPrefix(m_bin.path());
}

ScriptedTool::~ScriptedTool()
{
    Platform::setTestSearchPrefix(QString());
}

FakeTools::FakeTools(const QStringList& tools)
    : m_fixtures("VOSKEL_FAKE_DIR", m_bin.path().toUtf8()),
      m_log("VOSKEL_FAKE_LOG", (m_bin.path() + QStringLiteral("/calls.log")).toUtf8())
{
    for (const QString& tool : tools) {
        QFile::link(QStringLiteral(VOSKEL_FAKE_TOOL), m_bin.filePath(tool));
        QDir(m_bin.path()).mkpath(tool + QStringLiteral(".d"));
    }
    Platform::setTestSearchPrefix(m_bin.path());
}

FakeTools::~FakeTools()
{
    Platform::setTestSearchPrefix(QString());
}

void FakeTools::answer(const QString& tool, const QStringList& args, const QString& out, const QString& err,
                       int status) const
{
    answerBytes(tool, args, out.toUtf8(), err.toUtf8(), status);
}

void FakeTools::answerBytes(const QString& tool, const QStringList& args, const QByteArray& out,
                            const QByteArray& err, int status) const
{
    const QString base = m_bin.filePath(tool + QStringLiteral(".d/") + fileKey(args));
    const auto write = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(bytes);
    };
    write(base + QStringLiteral(".out"), out);
    write(base + QStringLiteral(".err"), err);
    write(base + QStringLiteral(".status"), QByteArray::number(status));
}

void FakeTools::hang(const QString& tool, const QStringList& args) const
{
    QFile file(m_bin.filePath(tool + QStringLiteral(".d/") + fileKey(args) + QStringLiteral(".hang")));
    file.open(QIODevice::WriteOnly);
}

QStringList FakeTools::calls() const
{
    QFile file(m_bin.filePath(QStringLiteral("calls.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

HeldLooks::HeldLooks(const QString& folder, std::chrono::milliseconds limit)
{
    Platform::detail::setBeforeFolderLookForTesting(
        [folder, limit, released = m_released, held = m_held](const QString& looked) {
            if (looked != folder)
                return;
            ++*held;
            const QDeadlineTimer deadline(limit);
            while (!*released && !deadline.hasExpired())
                QThread::msleep(5);
        });
}

HeldLooks::~HeldLooks()
{
    release();
    Platform::detail::setBeforeFolderLookForTesting({});
}

StalledFolder::StalledFolder(bool onlyHere)
{
    const QString mountPoint = m_dir.filePath(QStringLiteral("stalled"));
    QDir().mkpath(mountPoint);
    m_mount = std::make_unique<QProcess>();
    m_mount->setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments{mountPoint};
    if (onlyHere)
        arguments << QString::number(QCoreApplication::applicationPid());
    m_mount->start(QStringLiteral(VOSKEL_STALLING_MOUNT), arguments);
    QByteArray said;
    const QDeadlineTimer deadline(10000);
    while (!said.contains('\n') && m_mount->state() != QProcess::NotRunning && !deadline.hasExpired()) {
        m_mount->waitForReadyRead(100);
        said += m_mount->readAll();
    }
    said += m_mount->readAll();
    if (said.trimmed() != "ready") {
        m_whyNot = said.isEmpty() ? QStringLiteral("the stalling mount did not start")
                                  : QString::fromUtf8(said).trimmed();
        release();
    }
}

StalledFolder::~StalledFolder()
{
    release();
}

QString StalledFolder::stalledPath() const
{
    return m_dir.filePath(QStringLiteral("stalled/anything"));
}

QSet<qint64> StalledFolder::held()
{
    if (m_mount && m_mount->state() != QProcess::NotRunning) {
        m_mount->waitForReadyRead(0);
        m_said += m_mount->readAll();
    }
    const qsizetype end = m_said.lastIndexOf('\n');
    for (const QByteArray& line : m_said.left(end + 1).split('\n'))
        if (line.startsWith("held "))
            m_held.insert(line.mid(5).toLongLong());
    m_said.remove(0, end + 1);
    return m_held;
}

void StalledFolder::release()
{
    if (!m_mount || m_mount->state() == QProcess::NotRunning)
        return;
    m_mount->closeWriteChannel(); // it unmounts once its input ends
    if (!m_mount->waitForFinished(10000)) {
        m_mount->kill();
        m_mount->waitForFinished(5000);
    }
}

} // namespace TestSupport
