#include "engine/Container.h"

namespace {

std::optional<QString> label(const QMap<QString, QString>& labels, const QString& key)
{
    const auto it = labels.constFind(key);
    if (it == labels.cend())
        return std::nullopt;
    return it.value();
}

// Built once: these are looked up for every container of every refresh.
struct LabelKeys {
    QString project = QString::fromLatin1(Docker::projectLabel);
    QString service = QString::fromLatin1(Docker::serviceLabel);
    QString workingDir = QString::fromLatin1(Docker::workingDirLabel);
    QString workingDirAlt = QString::fromLatin1(Docker::workingDirLabelAlt);
    QString configFiles = QString::fromLatin1(Docker::configFilesLabel);
};

const LabelKeys& keys()
{
    static const LabelKeys built;
    return built;
}

} // namespace

std::optional<QString> Container::project() const
{
    return label(labels, keys().project);
}

std::optional<QString> Container::service() const
{
    return label(labels, keys().service);
}

std::optional<QString> Container::workingDir() const
{
    if (auto dir = label(labels, keys().workingDir))
        return dir;
    return label(labels, keys().workingDirAlt);
}

QStringList Container::configFiles() const
{
    return Docker::joinedFiles(labels.value(keys().configFiles), workingDir().value_or(QString()));
}

QStringList Container::envFiles() const
{
    return Docker::joinedFiles(labels.value(QString::fromLatin1(Docker::environmentFileLabel)),
                               workingDir().value_or(QString()));
}

bool Container::isFailed() const
{
    return state == u"exited" && status.contains(u'(') && !status.contains(u"(0)");
}

bool Container::isTroubled() const
{
    return (state == u"running" && status.contains(u"(unhealthy)")) || isFailed();
}

bool Container::isLive() const
{
    return state == u"running" || state == u"paused";
}

QStringList Container::hostPorts() const
{
    QStringList hosts;
    const QStringList pairs = Docker::shortPorts(ports).split(u',', Qt::SkipEmptyParts);
    for (const QString& pair : pairs) {
        const QStringList parts = pair.split(u':', Qt::SkipEmptyParts);
        if (parts.isEmpty())
            continue;
        hosts << Docker::trimBlanks(parts.first());
    }
    return hosts;
}

QString DockerImage::ref() const
{
    if (repository == u"<none>" || tag == u"<none>")
        return id;
    return repository + u':' + tag;
}

QString DockerVolume::id() const
{
    return Docker::runtimeId(runtime) + u'/' + name;
}

size_t qHash(const std::optional<Runtime>& runtime, size_t seed) noexcept
{
    return runtime ? qHash(*runtime, seed) : qHash(0, seed);
}

size_t qHash(const Container& c, size_t seed) noexcept
{
    seed = qHashMulti(seed, c.id, c.name, c.image, c.state, c.status, c.ports, c.runtime);
    for (auto it = c.labels.cbegin(); it != c.labels.cend(); ++it)
        seed = qHashMulti(seed, it.key(), it.value());
    return seed;
}

size_t qHash(const DockerImage& image, size_t seed) noexcept
{
    return qHashMulti(seed, image.id, image.repository, image.tag, image.size, image.runtime);
}

size_t qHash(const DockerVolume& volume, size_t seed) noexcept
{
    return qHashMulti(seed, volume.name, volume.driver, volume.mountpoint, volume.runtime);
}

namespace Docker {

QStringList joinedFiles(const QString& joined, const QString& dir)
{
    // compose joins the absolute paths of the files with commas, so a new path starts only at a
    // comma followed by "/". Only a folder whose name ends in a comma makes that ambiguous; the
    // project's own folder is known whole, so a path that starts with it is read past its commas.
    const QString inside = dir.isEmpty() ? QString() : dir + u'/';
    QStringList files;
    qsizetype start = 0;
    while (start < joined.size()) {
        qsizetype from = start;
        if (!inside.isEmpty() && QStringView(joined).mid(start).startsWith(inside))
            from += inside.size();
        qsizetype end = joined.indexOf(QLatin1StringView(",/"), from);
        if (end < 0)
            end = joined.size();
        files << joined.mid(start, end - start);
        start = end + 1;
    }
    return files;
}

QString trimBlanks(QStringView text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && (text[start] == u' ' || text[start] == u'\t'))
        ++start;
    while (end > start && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.mid(start, end - start).toString();
}

bool namesExactly(QStringView path)
{
    return !path.contains(QChar::ReplacementCharacter);
}

QString inexactNameMessage(const QString& path)
{
    return QStringLiteral(
               "%1 cannot be named exactly: its name reached the engine with \uFFFD in place of bytes that "
               "are not UTF-8, so it may name another folder or file.")
        .arg(path);
}

QString runtimeId(const std::optional<Runtime>& runtime)
{
    return runtime ? runtime->id() : QString();
}

QMap<QString, QString> parseLabels(const QString& text)
{
    return parseLabels(text, nullptr);
}

QMap<QString, QString> parseLabels(QStringView text, TextPool* pool)
{
    const auto make = [pool](QStringView piece) { return pool ? (*pool)(piece) : piece.toString(); };
    QMap<QString, QString> labels;
    std::optional<QString> lastKey;
    for (const QStringView piece : text.split(u',', Qt::SkipEmptyParts)) {
        const qsizetype eq = piece.indexOf(u'=');
        // No key begins with a slash, but a path after a comma may hold "=": compose's list of
        // files in a folder such as "/srv/env=prod" would otherwise keep only its first file.
        if (eq >= 0 && !(lastKey && piece.startsWith(u'/'))) {
            QString key = make(piece.left(eq));
            labels.insert(key, make(piece.mid(eq + 1)));
            lastKey = std::move(key);
        } else if (lastKey) {
            labels[*lastKey] += u',' + piece.toString();
        }
    }
    return labels;
}

QString TextPool::operator()(QStringView text)
{
    const auto found = m_texts.constFind(text);
    if (found != m_texts.cend())
        return found.value();
    const QString copy = text.toString();
    // The key views the copy's own characters, which stay put while the pool holds the copy.
    m_texts.insert(QStringView(copy), copy);
    return copy;
}

QString shortPorts(const QString& column)
{
    QStringList pairs;
    for (const QStringView raw : QStringView(column).split(u',', Qt::SkipEmptyParts)) {
        const QString piece = trimBlanks(raw);
        const qsizetype arrow = piece.indexOf(u"->");
        if (arrow < 0)
            continue;
        const QStringView after = QStringView(piece).mid(arrow + 2);
        const qsizetype slash = after.indexOf(u'/');
        const QString containerPort = (slash < 0 ? after : after.left(slash)).toString();
        const qsizetype colon = QStringView(piece).left(arrow).lastIndexOf(u':');
        if (colon < 0)
            continue;
        const QString hostPort = piece.mid(colon + 1, arrow - colon - 1);
        if (hostPort.isEmpty() || containerPort.isEmpty())
            continue;
        const QString pair = hostPort + u':' + containerPort;
        if (!pairs.contains(pair))
            pairs << pair;
    }
    return pairs.join(QStringLiteral(", "));
}

} // namespace Docker
