#include "engine/Listings.h"

#include "engine/Docker.h"
#include "engine/ExactLabels.h"
#include "platform/Json.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cstring>

namespace {

// Reads the wanted string values of one line of listing output exactly as Docker::ndjson and
// Docker::str would, without building the whole object. Plain JSON takes a fast path that hands out
// views into the line; anything unusual there (numbers with exponents, surrogates, a wanted key given
// twice, deep nesting, any error) sends the line to the general reader instead, so both agree.
class LineReader {
public:
    explicit LineReader(const QList<QLatin1StringView>& keys)
        : m_keys(keys), m_views(keys.size()), m_decoded(keys.size())
    {
    }

    // False when the line is not a JSON object; it is then skipped.
    bool read(QStringView line)
    {
        if (m_keys.size() <= 64 && scan(line))
            return true;
        return readGeneral(line);
    }

    // The value under the i-th key: valid until the next read.
    QStringView value(qsizetype i) const { return m_views[i]; }

private:
    const QList<QLatin1StringView>& m_keys;
    QList<QStringView> m_views;
    QStringList m_decoded;
    const QChar* m_p = nullptr;
    const QChar* m_end = nullptr;

    bool readGeneral(QStringView line)
    {
        const QJsonValue parsed = Platform::parseJson(line.toString());
        if (!parsed.isObject())
            return false;
        const QJsonObject object = parsed.toObject();
        for (qsizetype i = 0; i < m_keys.size(); ++i) {
            m_decoded[i] = Docker::str(object, m_keys[i]);
            m_views[i] = m_decoded[i];
        }
        return true;
    }

    bool scan(QStringView line)
    {
        m_p = line.data();
        m_end = line.data() + line.size();
        std::fill(m_views.begin(), m_views.end(), QStringView());
        quint64 seen = 0;
        QString keyBuffer;
        skipSpace();
        if (!consume(u'{'))
            return false;
        skipSpace();
        if (!consume(u'}')) {
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
                    if (!readString(&m_decoded[wanted], &m_views[wanted]))
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

    static bool isPlain(char16_t c) { return c != u'"' && c != u'\\' && c >= 0x20 && !QChar::isSurrogate(c); }

    // Moves past the characters of a string that need no attention, eight at a time while none of
    // them is a quote, a backslash, a control character or a surrogate (the label texts of a
    // listing are long and almost all plain).
    void skipPlain()
    {
        using Lanes = quint16 __attribute__((vector_size(16)));
        while (m_end - m_p >= 8) {
            Lanes x;
            std::memcpy(&x, m_p, sizeof x);
            const Lanes special = (x == u'"') | (x == u'\\') | (x < 0x20) | ((x & 0xF800) == 0xD800);
            quint64 halves[2];
            std::memcpy(halves, &special, sizeof halves);
            if (halves[0] | halves[1])
                break;
            m_p += 8;
        }
        while (m_p < m_end && isPlain(m_p->unicode()))
            ++m_p;
    }

    static int hexDigit(char16_t u)
    {
        if (u >= u'0' && u <= u'9')
            return u - u'0';
        if (u >= u'a' && u <= u'f')
            return u - u'a' + 10;
        if (u >= u'A' && u <= u'F')
            return u - u'A' + 10;
        return -1;
    }

    // At an opening quote. `view` receives the text: the characters between the quotes when there
    // are no escapes, else the decoded text kept in `decoded`. Without `view` it only validates.
    bool readString(QString* decoded, QStringView* view)
    {
        if (!consume(u'"'))
            return false;
        const QChar* start = m_p;
        skipPlain();
        if (m_p < m_end && *m_p == u'"') {
            if (view)
                *view = QStringView(start, m_p - start);
            ++m_p;
            return true;
        }
        if (view) {
            decoded->resize(0);
            decoded->append(start, m_p - start);
        }
        for (;;) {
            if (m_p >= m_end || m_p->unicode() != u'\\' || m_end - m_p < 2)
                return false;
            const char16_t e = m_p[1].unicode();
            m_p += 2;
            QChar c;
            switch (e) {
            case u'"':
                c = u'"';
                break;
            case u'\\':
                c = u'\\';
                break;
            case u'/':
                c = u'/';
                break;
            case u'b':
                c = u'\b';
                break;
            case u'f':
                c = u'\f';
                break;
            case u'n':
                c = u'\n';
                break;
            case u'r':
                c = u'\r';
                break;
            case u't':
                c = u'\t';
                break;
            case u'u': {
                if (m_end - m_p < 4)
                    return false;
                int code = 0;
                for (int i = 0; i < 4; ++i) {
                    const int d = hexDigit(m_p[i].unicode());
                    if (d < 0)
                        return false;
                    code = code * 16 + d;
                }
                if (QChar::isSurrogate(char32_t(code)))
                    return false;
                c = QChar(char16_t(code));
                m_p += 4;
                break;
            }
            default:
                return false;
            }
            const QChar* chunk = m_p;
            skipPlain();
            if (view) {
                decoded->append(c);
                decoded->append(chunk, m_p - chunk);
            }
            if (m_p < m_end && *m_p == u'"') {
                if (view)
                    *view = *decoded;
                ++m_p;
                return true;
            }
        }
    }

    bool skipLiteral(QLatin1StringView word)
    {
        if (m_end - m_p < word.size() || QStringView(m_p, word.size()) != word)
            return false;
        m_p += word.size();
        return true;
    }

    void skipDigits()
    {
        while (m_p < m_end && m_p->unicode() >= u'0' && m_p->unicode() <= u'9')
            ++m_p;
    }

    // Plain integers and decimals only; exponents and very long numbers go to the general reader.
    bool skipNumber()
    {
        const QChar* start = m_p;
        consume(u'-');
        const QChar* digits = m_p;
        skipDigits();
        if (m_p == digits || (m_p - digits > 1 && *digits == u'0'))
            return false;
        if (consume(u'.')) {
            const QChar* fraction = m_p;
            skipDigits();
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

// Calls `row` with the reader positioned on every JSON object line of `text`, in order.
template <typename Row>
void forEachObjectLine(QStringView text, const QList<QLatin1StringView>& keys, Row row)
{
    LineReader reader(keys);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        const QStringView line = text.mid(start, end - start);
        start = end + 1;
        if (!line.isEmpty() && reader.read(line))
            row(reader);
    }
}

// One listing of a runtime in JSON, bounded as a refresh needs it, read by `parse`.
template <typename Parse>
auto listing(const QStringList& args, const std::optional<Runtime>& runtime, Parse parse)
{
    const QString output = Docker::run(args, runtime, std::nullopt, Docker::listingLimit);
    auto rows = parse(output, runtime);
    Docker::requireJsonListing(output, rows.size());
    return rows;
}

// The client's "Labels" column joins every label as key=value with commas, which no reader can split
// back where a value holds a comma or an "=" (a folder named "shop,env=prod"). The compose labels the
// application acts on are therefore printed each in a field of its own, under the label's key, and
// replace what the joined text gave for them.
struct ComposeLabel {
    QLatin1StringView key;
    QString name = QString(key);
    QString empty = name + u'='; // how the joined text shows it present with an empty value
};

const QList<ComposeLabel>& containerLabels()
{
    static const QList<ComposeLabel> labels{
        {QLatin1StringView(Docker::projectLabel)},     {QLatin1StringView(Docker::serviceLabel)},
        {QLatin1StringView(Docker::workingDirLabel)},  {QLatin1StringView(Docker::workingDirLabelAlt)},
        {QLatin1StringView(Docker::configFilesLabel)},
    };
    return labels;
}

const QList<ComposeLabel>& volumeLabels()
{
    static const QList<ComposeLabel> labels{{QLatin1StringView(Docker::projectLabel)}};
    return labels;
}

// The keys of `labels`, as settleUnsureLabels takes them.
QStringList keysOf(const QList<ComposeLabel>& labels)
{
    QStringList keys;
    for (const ComposeLabel& label : labels)
        keys << label.name;
    return keys;
}

// What is left of a listing's time.
std::chrono::milliseconds left(const QDeadlineTimer& deadline)
{
    return std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 0));
}

// The client's fields, then the labels, as the keys a listing line is read by.
QList<QLatin1StringView> lineKeys(const QList<QLatin1StringView>& fields, const QList<ComposeLabel>& labels)
{
    QList<QLatin1StringView> keys = fields;
    for (const ComposeLabel& label : labels)
        keys << label.key;
    return keys;
}

// A Go template printing one JSON object per line with those keys, whatever the client's version.
QString lineFormat(const QList<QLatin1StringView>& fields, const QList<ComposeLabel>& labels)
{
    QStringList members;
    for (const QLatin1StringView field : fields)
        members << QStringLiteral("\"%1\":{{json .%1}}").arg(field);
    for (const ComposeLabel& label : labels)
        members << QStringLiteral("\"%1\":{{json (.Label \"%1\")}}").arg(label.key);
    return u'{' + members.join(u',') + u'}';
}

const QList<QLatin1StringView>& containerFields()
{
    static const QList<QLatin1StringView> fields{
        QLatin1StringView("ID"),     QLatin1StringView("Names"),  QLatin1StringView("Image"),
        QLatin1StringView("State"),  QLatin1StringView("Status"), QLatin1StringView("Ports"),
        QLatin1StringView("Labels"),
    };
    return fields;
}

const QList<QLatin1StringView>& volumeFields()
{
    static const QList<QLatin1StringView> fields{QLatin1StringView("Name"), QLatin1StringView("Driver"),
                                                 QLatin1StringView("Mountpoint"),
                                                 QLatin1StringView("Labels")};
    return fields;
}

// Whether the joined text holds `label` with an empty value: the label's own field prints the same
// empty text for a label that is absent, and an empty project label still makes a project. Another
// label's value can hold the same text, so a listing asks the engine about every label read this way
// (settleUnsureLabels).
bool holdsEmpty(QStringView joined, const ComposeLabel& label)
{
    for (qsizetype at = joined.indexOf(label.empty); at >= 0; at = joined.indexOf(label.empty, at + 1)) {
        const qsizetype end = at + label.empty.size();
        if ((at == 0 || joined[at - 1] == u',') && (end == joined.size() || joined[end] == u','))
            return true;
    }
    return false;
}

// Puts the labels' own fields, from the `first`-th value of the line on, in place of what the joined
// text at `joined` gave for them. The joined text holds a label only where its split holds the key, so
// most containers need no search of the text at all.
void takeExact(QMap<QString, QString>& labels, const QList<ComposeLabel>& exact, const LineReader& line,
               qsizetype first, QStringView joined, Docker::TextPool& pool)
{
    for (qsizetype i = 0; i < exact.size(); ++i) {
        const QStringView value = line.value(first + i);
        const auto split = labels.find(exact[i].name);
        if (!value.isEmpty()) {
            if (split == labels.end())
                labels.insert(exact[i].name, pool(value));
            else if (*split != value)
                *split = pool(value);
        } else if (split != labels.end()) {
            if (holdsEmpty(joined, exact[i]))
                split->clear();
            else
                labels.erase(split);
        }
    }
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

// The labels of a container read the same from one listing to the next, every 2 s: the map made from
// a line's label columns is kept and taken again while those columns read the same, byte for byte.
// Taken again, it is the same shared map, which compares equal at once.
class LabelMemo {
public:
    std::optional<QMap<QString, QString>> find(const QString& key)
    {
        const QMutexLocker lock(&m_lock);
        const auto found = m_maps.constFind(key);
        if (found == m_maps.cend())
            return std::nullopt;
        return found.value();
    }

    void keep(const QString& key, const QMap<QString, QString>& labels)
    {
        const QMutexLocker lock(&m_lock);
        if (m_maps.size() >= limit)
            m_maps.clear();
        m_maps.insert(key, labels);
    }

    // The columns `from` to `from + count - 1`, each after its length, so no two lines share a key.
    static QString key(const LineReader& line, qsizetype from, qsizetype count)
    {
        qsizetype size = 0;
        for (qsizetype i = 0; i < count; ++i)
            size += line.value(from + i).size() + 12;
        QString key;
        key.reserve(size);
        for (qsizetype i = 0; i < count; ++i) {
            const QStringView value = line.value(from + i);
            key += QString::number(value.size());
            key += u':';
            key += value;
        }
        return key;
    }

private:
    static constexpr qsizetype limit = 4096;
    QMutex m_lock;
    QHash<QString, QMap<QString, QString>> m_maps;
};

LabelMemo& containerLabelMemo()
{
    static LabelMemo memo;
    return memo;
}

} // namespace

namespace Docker {

QList<QStringList> ndjsonStrings(QStringView text, const QList<QLatin1StringView>& keys)
{
    QList<QStringList> rows;
    forEachObjectLine(text, keys, [&](const LineReader& reader) {
        QStringList row;
        row.reserve(keys.size());
        for (qsizetype i = 0; i < keys.size(); ++i)
            row << reader.value(i).toString();
        rows << row;
    });
    return rows;
}

QList<Container> parseContainers(QStringView text, const std::optional<Runtime>& runtime)
{
    static const QList<QLatin1StringView> keys = lineKeys(containerFields(), containerLabels());
    const qsizetype labelsAt = containerFields().size() - 1;
    // Containers of one listing repeat their images, states and most labels: share those texts.
    TextPool pool;
    QList<Container> list;
    LabelMemo& memo = containerLabelMemo();
    forEachObjectLine(text, keys, [&](const LineReader& r) {
        const QString key = LabelMemo::key(r, labelsAt, containerLabels().size() + 1);
        std::optional<QMap<QString, QString>> kept = memo.find(key);
        if (!kept) {
            kept = parseLabels(r.value(labelsAt), &pool);
            takeExact(*kept, containerLabels(), r, labelsAt + 1, r.value(labelsAt), pool);
            memo.keep(key, *kept);
        }
        QMap<QString, QString> labels = std::move(*kept);
        list.append(Container{r.value(0).toString(), r.value(1).toString(), pool(r.value(2)),
                              pool(r.value(3)), pool(r.value(4)), pool(r.value(5)), std::move(labels),
                              runtime});
    });
    return list;
}

QList<DockerImage> parseImages(QStringView text, const std::optional<Runtime>& runtime)
{
    static const QList<QLatin1StringView> keys{QLatin1StringView("ID"), QLatin1StringView("Repository"),
                                               QLatin1StringView("Tag"), QLatin1StringView("Size"),
                                               QLatin1StringView("CreatedAt")};
    QList<DockerImage> list;
    QStringList created;
    forEachObjectLine(text, keys, [&](const LineReader& r) {
        list.append(DockerImage{r.value(0).toString(), r.value(1).toString(), r.value(2).toString(),
                                r.value(3).toString(), runtime});
        created << r.value(4).toString();
    });
    // The client lists the newest first and leaves the order of equals to chance: the names of one
    // image, or images made in the same second, swap from one listing to the next. Each run of such
    // equals is put in order by name and identifier, so an unchanged engine lists unchanged rows.
    const auto ties = [&](qsizetype i) {
        return list[i].id == list[i - 1].id || (!created[i].isEmpty() && created[i] == created[i - 1]);
    };
    const auto byName = [](const DockerImage& a, const DockerImage& b) {
        const QString nameA = a.repository + u':' + a.tag;
        const QString nameB = b.repository + u':' + b.tag;
        return nameA != nameB ? nameA < nameB : a.id < b.id;
    };
    for (qsizetype first = 0, end = 1; first < list.size(); first = end++) {
        while (end < list.size() && ties(end))
            ++end;
        if (end - first > 1)
            std::stable_sort(list.begin() + first, list.begin() + end, byName);
    }
    return list;
}

QList<DockerVolume> parseVolumes(QStringView text, const std::optional<Runtime>& runtime)
{
    static const QList<QLatin1StringView> keys = lineKeys(volumeFields(), volumeLabels());
    const qsizetype labelsAt = volumeFields().size() - 1;
    TextPool pool;
    QList<DockerVolume> list;
    forEachObjectLine(text, keys, [&](const LineReader& r) {
        QMap<QString, QString> labels = parseLabels(r.value(labelsAt), &pool);
        takeExact(labels, volumeLabels(), r, labelsAt + 1, r.value(labelsAt), pool);
        list.append(DockerVolume{r.value(0).toString(), r.value(1).toString(), r.value(2).toString(), runtime,
                                 std::move(labels)});
    });
    return list;
}

QStringList containerListingArgs()
{
    static const QStringList args{QStringLiteral("ps"), QStringLiteral("-a"), QStringLiteral("--format"),
                                  lineFormat(containerFields(), containerLabels())};
    return args;
}

QStringList volumeListingArgs()
{
    static const QStringList args{QStringLiteral("volume"), QStringLiteral("ls"), QStringLiteral("--format"),
                                  lineFormat(volumeFields(), volumeLabels())};
    return args;
}

QList<Container> containers(const std::optional<Runtime>& runtime)
{
    const QDeadlineTimer deadline(listingLimit);
    QList<Container> list = listing(containerListingArgs(), runtime, parseContainers);
    static const QStringList keys = keysOf(containerLabels());
    settleUnsureLabels(list, keys, runtime, left(deadline));
    return list;
}

QList<DockerImage> images(const std::optional<Runtime>& runtime)
{
    return listing({QStringLiteral("images"), QStringLiteral("--format"), QStringLiteral("json")}, runtime,
                   parseImages);
}

QList<DockerVolume> volumes(const std::optional<Runtime>& runtime)
{
    const QDeadlineTimer deadline(listingLimit);
    QList<DockerVolume> list = listing(volumeListingArgs(), runtime, parseVolumes);
    static const QStringList keys = keysOf(volumeLabels());
    settleUnsureLabels(list, keys, runtime, left(deadline));
    return list;
}

QMap<QString, QString> parseAddresses(const QString& json)
{
    QMap<QString, QString> addresses;
    const QJsonValue records = Platform::parseJson(json);
    if (!records.isArray())
        return addresses;
    for (const QJsonValue& record : records.toArray()) {
        const QJsonObject object = record.toObject();
        const QJsonValue networks =
            object.value(QLatin1StringView("status")).toObject().value(QLatin1StringView("networks"));
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
