#include "engine/Listings.h"

#include "engine/Docker.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>

namespace {

// Reads one line of listing output the way the general JSON reader would, but only as far as the
// wanted string values need. It understands plain JSON and gives up on anything unusual (numbers
// with exponents, lone or paired surrogates, repeated wanted keys, deep nesting); the caller then
// hands that line to the general reader, so both paths agree on every line.
class LineScanner {
public:
    LineScanner(QStringView line, const QList<QLatin1StringView>& keys, QStringList& values)
        : m_p(line.data()), m_end(line.data() + line.size()), m_keys(keys), m_values(values)
    {
    }

    bool scanObjectLine()
    {
        m_values.fill(QString(), m_keys.size());
        quint64 seen = 0;
        skipSpace();
        if (!consume(u'{'))
            return false;
        skipSpace();
        if (!consume(u'}')) {
            QString keyBuffer;
            for (;;) {
                skipSpace();
                QStringView key;
                if (!readString(&keyBuffer, &key))
                    return false;
                skipSpace();
                if (!consume(u':'))
                    return false;
                skipSpace();
                const qsizetype wanted = indexOfKey(key);
                if (wanted >= 0) {
                    const quint64 bit = quint64(1) << wanted;
                    if (seen & bit)
                        return false;
                    seen |= bit;
                }
                if (wanted >= 0 && m_p < m_end && *m_p == u'"') {
                    if (!readString(&m_values[wanted], nullptr))
                        return false;
                } else if (!skipValue(0)) {
                    return false;
                }
                skipSpace();
                if (consume(u','))
                    continue;
                if (consume(u'}'))
                    break;
                return false;
            }
        }
        skipSpace();
        return m_p == m_end;
    }

private:
    const QChar* m_p;
    const QChar* m_end;
    const QList<QLatin1StringView>& m_keys;
    QStringList& m_values;

    qsizetype indexOfKey(QStringView key) const
    {
        for (qsizetype i = 0; i < m_keys.size(); ++i)
            if (m_keys[i].size() == key.size() && key == m_keys[i])
                return i;
        return -1;
    }

    void skipSpace()
    {
        while (m_p < m_end && (*m_p == u' ' || *m_p == u'\t' || *m_p == u'\r' || *m_p == u'\n'))
            ++m_p;
    }

    bool consume(char16_t c)
    {
        if (m_p < m_end && *m_p == c) {
            ++m_p;
            return true;
        }
        return false;
    }

    static int hexDigit(QChar c)
    {
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9')
            return u - u'0';
        if (u >= u'a' && u <= u'f')
            return u - u'a' + 10;
        if (u >= u'A' && u <= u'F')
            return u - u'A' + 10;
        return -1;
    }

    // At an opening quote. Without escapes the text is handed out as `view` (no copy) when asked
    // for; otherwise it is decoded into `out` and `view` points there.
    bool readString(QString* out, QStringView* view)
    {
        if (!consume(u'"'))
            return false;
        const QChar* start = m_p;
        while (m_p < m_end) {
            const char16_t c = m_p->unicode();
            if (c == u'"') {
                const QStringView raw(start, m_p - start);
                ++m_p;
                if (view)
                    *view = raw;
                else if (out)
                    *out = raw.toString();
                return true;
            }
            if (c == u'\\' || c < 0x20 || QChar::isSurrogate(c))
                break;
            ++m_p;
        }
        QString decoded(start, m_p - start);
        while (m_p < m_end) {
            const char16_t c = m_p->unicode();
            if (c == u'"') {
                ++m_p;
                if (out) {
                    *out = decoded;
                    if (view)
                        *view = *out;
                }
                return true;
            }
            if (c < 0x20 || QChar::isSurrogate(c))
                return false;
            if (c != u'\\') {
                decoded += QChar(c);
                ++m_p;
                continue;
            }
            if (m_end - m_p < 2)
                return false;
            const char16_t e = m_p[1].unicode();
            m_p += 2;
            switch (e) {
            case u'"': decoded += u'"'; break;
            case u'\\': decoded += u'\\'; break;
            case u'/': decoded += u'/'; break;
            case u'b': decoded += u'\b'; break;
            case u'f': decoded += u'\f'; break;
            case u'n': decoded += u'\n'; break;
            case u'r': decoded += u'\r'; break;
            case u't': decoded += u'\t'; break;
            case u'u': {
                if (m_end - m_p < 4)
                    return false;
                int code = 0;
                for (int i = 0; i < 4; ++i) {
                    const int d = hexDigit(m_p[i]);
                    if (d < 0)
                        return false;
                    code = code * 16 + d;
                }
                if (QChar::isSurrogate(char32_t(code)))
                    return false;
                decoded += QChar(char16_t(code));
                m_p += 4;
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }

    bool skipLiteral(QLatin1StringView word)
    {
        if (m_end - m_p < word.size() || QStringView(m_p, word.size()) != word)
            return false;
        m_p += word.size();
        return true;
    }

    // Plain integers and decimals only; exponents and very long numbers go to the general reader.
    bool skipNumber()
    {
        const QChar* start = m_p;
        consume(u'-');
        const QChar* digits = m_p;
        while (m_p < m_end && m_p->unicode() >= u'0' && m_p->unicode() <= u'9')
            ++m_p;
        if (m_p == digits || (m_p - digits > 1 && *digits == u'0'))
            return false;
        if (consume(u'.')) {
            const QChar* fraction = m_p;
            while (m_p < m_end && m_p->unicode() >= u'0' && m_p->unicode() <= u'9')
                ++m_p;
            if (m_p == fraction)
                return false;
        }
        return m_p - start <= 15;
    }

    bool skipValue(int depth)
    {
        if (m_p >= m_end || depth > 32)
            return false;
        switch (m_p->unicode()) {
        case u'"':
            return readString(nullptr, nullptr);
        case u't':
            return skipLiteral(QLatin1StringView("true"));
        case u'f':
            return skipLiteral(QLatin1StringView("false"));
        case u'n':
            return skipLiteral(QLatin1StringView("null"));
        case u'{':
        case u'[': {
            const bool object = m_p->unicode() == u'{';
            const char16_t close = object ? u'}' : u']';
            ++m_p;
            skipSpace();
            if (consume(close))
                return true;
            for (;;) {
                skipSpace();
                if (object) {
                    if (!readString(nullptr, nullptr))
                        return false;
                    skipSpace();
                    if (!consume(u':'))
                        return false;
                    skipSpace();
                }
                if (!skipValue(depth + 1))
                    return false;
                skipSpace();
                if (consume(u','))
                    continue;
                return consume(close);
            }
        }
        default:
            return skipNumber();
        }
    }
};

QStringList generalRead(QStringView line, const QList<QLatin1StringView>& keys, bool* isObject)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
    *isObject = error.error == QJsonParseError::NoError && doc.isObject();
    QStringList values;
    if (!*isObject)
        return values;
    const QJsonObject object = doc.object();
    values.reserve(keys.size());
    for (const QLatin1StringView key : keys)
        values << Docker::str(object, key);
    return values;
}

template <typename T>
void sortByName(QList<T>& list)
{
    std::stable_sort(list.begin(), list.end(), [](const T& a, const T& b) { return a.name < b.name; });
}

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case u'\n':
    case u'\r':
    case u'\v':
    case u'\f':
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

// Splits at every character `isSeparator` accepts, dropping empty pieces.
template <typename Pred>
QStringList splitWhere(const QString& text, Pred isSeparator)
{
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isSeparator(text[i])) {
            if (i > start)
                pieces << text.mid(start, i - start);
            start = i + 1;
        }
    }
    return pieces;
}

} // namespace

namespace Docker {

QList<QStringList> ndjsonStrings(QStringView text, const QList<QLatin1StringView>& keys)
{
    QList<QStringList> rows;
    QStringList values;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        const QStringView line = text.mid(start, end - start);
        start = end + 1;
        if (line.isEmpty())
            continue;
        if (keys.size() <= 64 && LineScanner(line, keys, values).scanObjectLine()) {
            rows << values;
            continue;
        }
        bool isObject = false;
        QStringList general = generalRead(line, keys, &isObject);
        if (isObject)
            rows << general;
    }
    return rows;
}

QList<Container> parseContainers(QStringView text, const std::optional<Runtime>& runtime)
{
    static const QList<QLatin1StringView> keys{
        QLatin1StringView("ID"),     QLatin1StringView("Names"), QLatin1StringView("Image"),
        QLatin1StringView("State"),  QLatin1StringView("Status"), QLatin1StringView("Ports"),
        QLatin1StringView("Labels"),
    };
    QList<Container> list;
    const QList<QStringList> rows = ndjsonStrings(text, keys);
    list.reserve(rows.size());
    for (const QStringList& r : rows)
        list.append(Container{r[0], r[1], r[2], r[3], r[4], r[5], parseLabels(r[6]), runtime});
    return list;
}

QList<DockerImage> parseImages(QStringView text, const std::optional<Runtime>& runtime)
{
    static const QList<QLatin1StringView> keys{QLatin1StringView("ID"), QLatin1StringView("Repository"),
                                               QLatin1StringView("Tag"), QLatin1StringView("Size")};
    QList<DockerImage> list;
    for (const QStringList& r : ndjsonStrings(text, keys))
        list.append(DockerImage{r[0], r[1], r[2], r[3], runtime});
    return list;
}

QList<DockerVolume> parseVolumes(QStringView text, const std::optional<Runtime>& runtime)
{
    static const QList<QLatin1StringView> keys{QLatin1StringView("Name"), QLatin1StringView("Driver"),
                                               QLatin1StringView("Mountpoint")};
    QList<DockerVolume> list;
    for (const QStringList& r : ndjsonStrings(text, keys))
        list.append(DockerVolume{r[0], r[1], r[2], runtime});
    return list;
}

QList<Container> containers(const std::optional<Runtime>& runtime)
{
    return parseContainers(run({QStringLiteral("ps"), QStringLiteral("-a"), QStringLiteral("--format"),
                                QStringLiteral("json")},
                               runtime),
                           runtime);
}

QList<DockerImage> images(const std::optional<Runtime>& runtime)
{
    return parseImages(run({QStringLiteral("images"), QStringLiteral("--format"), QStringLiteral("json")}, runtime),
                       runtime);
}

QList<DockerVolume> volumes(const std::optional<Runtime>& runtime)
{
    return parseVolumes(run({QStringLiteral("volume"), QStringLiteral("ls"), QStringLiteral("--format"),
                             QStringLiteral("json")},
                            runtime),
                        runtime);
}

QMap<QString, QString> parseAddresses(const QString& json)
{
    QMap<QString, QString> addresses;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return addresses;
    for (const QJsonValue& record : doc.array()) {
        const QJsonObject object = record.toObject();
        const QJsonValue networks = object.value(QLatin1StringView("status")).toObject().value(QLatin1StringView("networks"));
        if (!networks.isArray() || networks.toArray().isEmpty())
            continue;
        const QString address = str(networks.toArray().first().toObject(), QLatin1StringView("ipv4Address"));
        const QStringList pieces = address.split(u'/', Qt::SkipEmptyParts);
        if (pieces.isEmpty())
            continue;
        addresses.insert(str(object, QLatin1StringView("id")), pieces.first());
    }
    return addresses;
}

QStringList runArgs(const QString& image, const QString& name, const QString& ports, const QString& env,
                    const QString& command)
{
    QStringList args{QStringLiteral("run"), QStringLiteral("-d")};
    const QString trimmedName = trimBlanks(name);
    if (!trimmedName.isEmpty())
        args << QStringLiteral("--name") << trimmedName;
    for (const QString& port : splitWhere(ports, [](QChar c) { return c == u',' || c.isSpace(); }))
        args << QStringLiteral("-p") << port;
    for (const QString& line : splitWhere(env, isLineBreak)) {
        const QString variable = trimBlanks(line);
        if (!variable.isEmpty())
            args << QStringLiteral("-e") << variable;
    }
    args << image;
    args << splitWhere(command, [](QChar c) { return c.isSpace(); });
    return args;
}

QList<ComposeProject> group(const QList<Container>& containers)
{
    QList<ComposeProject> projects;
    QHash<QString, qsizetype> bucketOf;
    for (const Container& container : containers) {
        const std::optional<QString> project = container.project();
        if (!project)
            continue;
        const QString key = runtimeId(container.runtime) + u'/' + *project;
        auto found = bucketOf.constFind(key);
        if (found == bucketOf.cend()) {
            found = bucketOf.insert(key, projects.size());
            projects.append(ComposeProject{*project, std::nullopt, {}, 0, container.runtime});
        }
        ComposeProject& bucket = projects[*found];
        if (!bucket.workingDir)
            bucket.workingDir = container.workingDir();
        bucket.containers.append(container);
    }
    for (ComposeProject& project : projects)
        sortByName(project.containers);
    std::stable_sort(projects.begin(), projects.end(), [](const ComposeProject& a, const ComposeProject& b) {
        if (a.name != b.name)
            return a.name < b.name;
        return a.id() < b.id();
    });
    return projects;
}

QList<Container> ungrouped(const QList<Container>& containers)
{
    QList<Container> loose;
    for (const Container& container : containers)
        if (!container.project())
            loose.append(container);
    sortByName(loose);
    return loose;
}

} // namespace Docker
