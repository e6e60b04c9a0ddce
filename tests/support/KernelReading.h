#pragma once

// The kernel's tables read by a process of the test's own (KernelReader.cpp): as another user, in a
// mount or process namespace of its own, over a process folder mounted with options of its own. What
// it read comes back as JSON on its standard output. And processes that hold mounts in a namespace of
// their own, for a reading to find.

#include "platform/KernelMounts.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

#include <unistd.h>

namespace KernelReading {

inline QJsonArray toJson(const QStringList& texts)
{
    return QJsonArray::fromStringList(texts);
}

inline QStringList textsOf(const QJsonValue& value)
{
    QStringList texts;
    for (const QJsonValue& each : value.toArray())
        texts << each.toString();
    return texts;
}

inline QJsonArray toJson(const QList<Platform::MountEntry>& mounts)
{
    QJsonArray out;
    for (const Platform::MountEntry& mount : mounts)
        out.append(QJsonArray{QString::fromLatin1(mount.device), mount.root, mount.point});
    return out;
}

inline QList<Platform::MountEntry> mountsOf(const QJsonValue& value)
{
    QList<Platform::MountEntry> mounts;
    for (const QJsonValue& each : value.toArray()) {
        const QJsonArray fields = each.toArray();
        mounts.append({fields[0].toString().toLatin1(), fields[1].toString(), fields[2].toString()});
    }
    return mounts;
}

inline QByteArray toJson(const Platform::HostMounts& host)
{
    QJsonArray others;
    for (const Platform::MountNamespace& space : host.others)
        others.append(QJsonObject{{"pid", space.pid},
                                  {"command", space.command},
                                  {"cgroups", toJson(space.cgroups)},
                                  {"mounts", toJson(space.mounts)}});
    return QJsonDocument(QJsonObject{{"readable", host.readable},
                                     {"own", toJson(host.own)},
                                     {"others", others},
                                     {"unread", toJson(host.unread)},
                                     {"partial", toJson(host.partial)}})
        .toJson(QJsonDocument::Compact);
}

inline std::optional<Platform::HostMounts> hostMountsOf(const QByteArray& json)
{
    const QJsonObject top = QJsonDocument::fromJson(json).object();
    if (!top.contains("readable"))
        return std::nullopt;
    Platform::HostMounts host;
    host.readable = top.value("readable").toBool();
    host.own = mountsOf(top.value("own"));
    for (const QJsonValue& each : top.value("others").toArray()) {
        const QJsonObject space = each.toObject();
        host.others.append({space.value("pid").toString(), space.value("command").toString(),
                            textsOf(space.value("cgroups")), mountsOf(space.value("mounts"))});
    }
    host.unread = textsOf(top.value("unread"));
    host.partial = textsOf(top.value("partial"));
    return host;
}

// How the reader is to read.
struct Reader {
    bool asNobody = false;     // drops every right first, as the user "nobody" (65534)
    bool ownMounts = false;    // in a mount namespace of its own, its mounts private to it
    bool ownProcesses = false; // in a process namespace of its own too, as its first process
    QString setUp = {};        // run by /bin/sh as root, in its namespaces, before it reads
    QString proc = QStringLiteral("/proc");
};

// What the reader read, or why it did not.
struct Read {
    std::optional<Platform::HostMounts> host;
    QString why;
};

#ifdef VOSKEL_KERNEL_READER
inline Read readAs(const Reader& reader)
{
    QStringList arguments;
    if (reader.asNobody)
        arguments << QStringLiteral("--nobody");
    if (reader.ownMounts)
        arguments << QStringLiteral("--own-mounts");
    if (reader.ownProcesses)
        arguments << QStringLiteral("--own-processes");
    if (!reader.setUp.isEmpty())
        arguments << QStringLiteral("--set-up") << reader.setUp;
    arguments << QStringLiteral("--proc") << reader.proc;
    QProcess process;
    if (reader.ownProcesses) {
        // The leak checker finds the process's threads in /proc by its id, which in a process namespace
        // of its own names another process; what the reader runs is checked in the tests' own process.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ASAN_OPTIONS"), environment.value(QStringLiteral("ASAN_OPTIONS")) +
                                                               QStringLiteral(":detect_leaks=0"));
        process.setProcessEnvironment(environment);
    }
    process.start(QStringLiteral(VOSKEL_KERNEL_READER), arguments);
    if (!process.waitForFinished(60000))
        return {std::nullopt, QStringLiteral("the reader did not end within a minute")};
    const QByteArray out = process.readAllStandardOutput();
    std::optional<Platform::HostMounts> host = hostMountsOf(out);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || !host)
        return {std::nullopt, QString::fromUtf8(process.readAllStandardError() + out)};
    return {std::move(host), {}};
}
#endif

// `text` as one word of a shell command.
inline QString quoted(QString text)
{
    return u'\'' + text.replace(u'\'', QStringLiteral("'\\''")) + u'\'';
}

// A process that runs `setUp` in a mount namespace of its own, its mounts private to it, and then
// stays until the object ends. pid() is none when it did not get that far; why() says why.
class PrivateMounts {
public:
    explicit PrivateMounts(const QString& setUp)
    {
        m_process->start(QStringLiteral("unshare"),
                         {QStringLiteral("--mount"), QStringLiteral("--propagation"),
                          QStringLiteral("private"), QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                          QStringLiteral("set -e; %1; echo ready; exec sleep 300").arg(setUp)});
        if (m_process->waitForStarted(10000))
            while (!m_process->canReadLine() && m_process->state() == QProcess::Running)
                m_process->waitForReadyRead(1000);
        if (m_process->readLine().trimmed() == "ready")
            m_pid = QString::number(m_process->processId());
        else
            m_why = QString::fromUtf8(m_process->readAllStandardError());
    }
    ~PrivateMounts()
    {
        m_process->kill();
        m_process->waitForFinished(10000);
    }
    PrivateMounts(const PrivateMounts&) = delete;
    PrivateMounts& operator=(const PrivateMounts&) = delete;

    std::optional<QString> pid() const { return m_pid; }
    QString why() const { return m_why; }

private:
    std::unique_ptr<QProcess> m_process = std::make_unique<QProcess>();
    std::optional<QString> m_pid;
    QString m_why;
};

// Whether this test may make namespaces, mount and take on another user's rights: as root.
inline bool mayMount()
{
    return ::geteuid() == 0;
}

} // namespace KernelReading

#define VOSKEL_REQUIRE_ROOT()                                                                                \
    do {                                                                                                     \
        if (!KernelReading::mayMount())                                                                      \
            GTEST_SKIP() << "needs root: it makes mount and process namespaces of its own and reads as "     \
                            "another user";                                                                  \
    } while (false)
