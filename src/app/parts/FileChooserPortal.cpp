#include "app/parts/FileChooserPortal.h"

#include "app/design/DesktopPortal.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QFile>
#include <QUrl>
#include <QVariantMap>

#include <QCoroSignal>

#include <memory>

namespace {

const QString chooserInterface = QStringLiteral("org.freedesktop.portal.FileChooser");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
// The pop-up's own name in the question and in the answer.
const QString choiceId = QStringLiteral("choice");

// Choosing folders came with the interface's third version.
constexpr uint folderVersion = 3;

struct PortalOption {
    QString id;
    QString label;
};

struct PortalChoice {
    QString id;
    QString label;
    QList<PortalOption> options;
    QString initial;
};

} // namespace

Q_DECLARE_METATYPE(PortalOption)
Q_DECLARE_METATYPE(PortalChoice)

namespace {

QDBusArgument& operator<<(QDBusArgument& argument, const PortalOption& option)
{
    argument.beginStructure();
    argument << option.id << option.label;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalOption& option)
{
    argument.beginStructure();
    argument >> option.id >> option.label;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const PortalChoice& choice)
{
    argument.beginStructure();
    argument << choice.id << choice.label << choice.options << choice.initial;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalChoice& choice)
{
    argument.beginStructure();
    argument >> choice.id >> choice.label >> choice.options >> choice.initial;
    argument.endStructure();
    return argument;
}

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalOption>();
        qDBusRegisterMetaType<QList<PortalOption>>();
        qDBusRegisterMetaType<PortalChoice>();
        qDBusRegisterMetaType<QList<PortalChoice>>();
        return true;
    }();
    Q_UNUSED(registered);
}

QCoro::Task<QDBusMessage> replyOf(QDBusPendingCall call)
{
    if (!call.isFinished()) {
        QDBusPendingCallWatcher watcher(call);
        co_await qCoro(&watcher, &QDBusPendingCallWatcher::finished);
    }
    co_return call.reply();
}

} // namespace

// Keeps the portal's answer from whenever it comes: it may come before anyone waits for it.
class PortalResponse : public QObject {
    Q_OBJECT

public:
    bool answered = false;
    bool portalGone = false;
    uint code = 2;
    QVariantMap results;

signals:
    void arrived();

public slots:
    void take(uint response, const QVariantMap& values)
    {
        if (answered)
            return;
        answered = true;
        code = response;
        results = values;
        emit arrived();
    }

    void lose()
    {
        if (answered)
            return;
        answered = true;
        portalGone = true;
        emit arrived();
    }
};

namespace FileChooserPortal {

namespace {

Answer unavailable()
{
    return Answer{Answer::Kind::unavailable, {}, std::nullopt};
}

QString nextToken()
{
    static quint64 asked = 0;
    return QStringLiteral("voskel%1").arg(++asked);
}

std::optional<uint> versionOf(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    QVariant value = reply.arguments().constFirst();
    if (value.canConvert<QDBusVariant>())
        value = qvariant_cast<QDBusVariant>(value).variant();
    bool number = false;
    const uint version = value.toUInt(&number);
    return number ? std::optional(version) : std::nullopt;
}

Answer answerFrom(const PortalResponse& response)
{
    if (response.portalGone)
        return unavailable();
    // 1 is Cancel, 2 the chooser closed some other way (Escape, its window's close button): both are
    // the user's no, never a reason to ask again with another chooser.
    if (response.code != 0)
        return Answer{Answer::Kind::cancelled, {}, std::nullopt};
    const QStringList uris = response.results.value(QStringLiteral("uris")).toStringList();
    const QUrl chosen = uris.isEmpty() ? QUrl() : QUrl(uris.constFirst());
    if (!chosen.isLocalFile())
        return Answer{Answer::Kind::cancelled, {}, std::nullopt};
    Answer answer{Answer::Kind::chosen, chosen.toLocalFile(), std::nullopt};
    const QVariant choices = response.results.value(QStringLiteral("choices"));
    if (choices.canConvert<QDBusArgument>()) {
        const auto picked = qdbus_cast<QList<PortalOption>>(choices.value<QDBusArgument>());
        for (const PortalOption& option : picked) {
            bool number = false;
            const int index = option.label.toInt(&number);
            if (option.id == choiceId && number)
                answer.choice = index;
        }
    }
    return answer;
}

QCoro::Task<Answer> ask(QDBusConnection bus, QString method, QString parentWindow, QString title,
                        QVariantMap options, uint leastVersion)
{
    if (!bus.isConnected())
        co_return unavailable();
    registerTypes();

    QDBusMessage get = QDBusMessage::createMethodCall(DesktopPortal::service, DesktopPortal::path,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << chooserInterface << QStringLiteral("version");
    const std::optional<uint> version = versionOf(co_await replyOf(bus.asyncCall(get, answerMillis)));
    if (!version || *version < leastVersion)
        co_return unavailable();

    // Listen where the answer will come before asking, so it cannot come unheard.
    const QString token = nextToken();
    QString path = requestPath(bus.baseService(), token);
    auto response = std::make_unique<PortalResponse>();
    const auto listen = [&](const QString& at) {
        bus.connect(QString(), at, requestInterface, QStringLiteral("Response"), response.get(),
                    SLOT(take(uint, QVariantMap)));
    };
    const auto stopListening = [&](const QString& at) {
        bus.disconnect(QString(), at, requestInterface, QStringLiteral("Response"), response.get(),
                       SLOT(take(uint, QVariantMap)));
    };
    listen(path);
    // A portal that goes away with its chooser open answers nothing ever.
    QDBusServiceWatcher gone(DesktopPortal::service, bus, QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&gone, &QDBusServiceWatcher::serviceUnregistered, response.get(), &PortalResponse::lose);

    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("modal"), true);
    QDBusMessage call =
        QDBusMessage::createMethodCall(DesktopPortal::service, DesktopPortal::path, chooserInterface, method);
    call << parentWindow << title << options;
    const QDBusMessage asked = co_await replyOf(bus.asyncCall(call, answerMillis));
    if (asked.type() != QDBusMessage::ReplyMessage || asked.arguments().isEmpty()) {
        stopListening(path);
        co_return unavailable();
    }
    // An older portal answers on a path of its own making.
    const QString handle = qvariant_cast<QDBusObjectPath>(asked.arguments().constFirst()).path();
    if (!handle.isEmpty() && handle != path && !response->answered) {
        stopListening(path);
        path = handle;
        listen(path);
    }
    // The user takes as long as they take: no limit here.
    if (!response->answered)
        co_await qCoro(response.get(), &PortalResponse::arrived);
    stopListening(path);
    co_return answerFrom(*response);
}

} // namespace

QByteArray folderBytes(const QString& folder)
{
    QByteArray bytes = QFile::encodeName(folder);
    bytes.append('\0');
    return bytes;
}

QString requestPath(const QString& uniqueName, const QString& token)
{
    QString sender = uniqueName.startsWith(u':') ? uniqueName.mid(1) : uniqueName;
    sender.replace(u'.', u'_');
    return DesktopPortal::path + QStringLiteral("/request/") + sender + u'/' + token;
}

QCoro::Task<Answer> chooseFolder(QDBusConnection bus, QString parentWindow, FolderQuestion question)
{
    QVariantMap options;
    options.insert(QStringLiteral("directory"), true);
    options.insert(QStringLiteral("multiple"), false);
    if (!question.acceptLabel.isEmpty())
        options.insert(QStringLiteral("accept_label"), question.acceptLabel);
    if (!question.startIn.isEmpty())
        options.insert(QStringLiteral("current_folder"), folderBytes(question.startIn));
    if (!question.choices.isEmpty()) {
        registerTypes();
        PortalChoice choice{choiceId, question.choicesLabel, {}, {}};
        for (qsizetype i = 0; i < question.choices.size(); ++i)
            choice.options.append(PortalOption{QString::number(i), question.choices.at(i)});
        choice.initial = QString::number(qBound(0, question.chosen, int(question.choices.size()) - 1));
        options.insert(QStringLiteral("choices"), QVariant::fromValue(QList<PortalChoice>{choice}));
    }
    co_return co_await ask(bus, QStringLiteral("OpenFile"), parentWindow, question.title, options,
                           folderVersion);
}

QCoro::Task<Answer> chooseSaveFile(QDBusConnection bus, QString parentWindow, SaveQuestion question)
{
    QVariantMap options;
    options.insert(QStringLiteral("current_name"), question.suggestedName);
    if (!question.startIn.isEmpty())
        options.insert(QStringLiteral("current_folder"), folderBytes(question.startIn));
    co_return co_await ask(bus, QStringLiteral("SaveFile"), parentWindow, question.title, options, 1);
}

} // namespace FileChooserPortal

#include "FileChooserPortal.moc"
