#include "engine/Listings.h"

#include "engine/BoundedMemo.h"
#include "engine/Docker.h"
#include "engine/ExactLabels.h"
#include "engine/ListingLines.h"
#include "platform/Json.h"
#include "platform/TimedRunner.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cstring>

namespace {

using Docker::detail::forEachObjectLine;
using Docker::detail::LineReader;

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
        {QLatin1StringView(Docker::configFilesLabel)}, {QLatin1StringView(Docker::environmentFileLabel)},
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
using LabelMemo = BoundedMemo<QMap<QString, QString>>;

// The columns `from` to `from + count - 1` of `line`, each after its length, so no two lines share a key.
QString labelColumnsKey(const LineReader& line, qsizetype from, qsizetype count)
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
        const QString key = labelColumnsKey(r, labelsAt, containerLabels().size() + 1);
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
    settleUnsureLabels(list, keys, runtime, Platform::remaining(deadline));
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
    settleUnsureLabels(list, keys, runtime, Platform::remaining(deadline));
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
