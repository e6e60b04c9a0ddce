#pragma once

#include "engine/Runtime.h"

#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// One container as the client lists it, with the compose labels read from it. A listing puts the
// compose labels in `labels` as the engine holds them, byte for byte; the others as the client's
// comma-joined text allows.
struct Container {
    QString id;
    QString name;
    QString image;
    QString state;  // the client's state word: "running", "exited", "created", "paused", ...
    QString status; // the human status, with an exit code in parentheses or a health mark
    QString ports;  // the client's port column
    QMap<QString, QString> labels;
    std::optional<Runtime> runtime;
    // The engine was asked for labels the listing left unsure and did not answer in time: they were
    // dropped, and who the container belongs to is not known.
    bool labelsUnanswered = false;

    std::optional<QString> project() const;
    std::optional<QString> service() const;
    std::optional<QString> workingDir() const;
    // The compose files it was made from, in the order compose read them; empty without that label.
    // A path is taken whole past the commas of its working folder's name.
    QStringList configFiles() const;
    // The env files it was started with (`--env-file`), in the order compose was given them, read as
    // configFiles reads its files; empty without that label.
    QStringList envFiles() const;
    // Exited with a code other than 0.
    bool isFailed() const;
    // Running with "(unhealthy)" in its status, or failed.
    bool isTroubled() const;
    // Running or paused.
    bool isLive() const;
    // The host side of each published port, in the order of Docker::shortPorts.
    QStringList hostPorts() const;

    bool operator==(const Container&) const = default;
};

// One image as the client lists it. `ref` is what image commands take.
struct DockerImage {
    QString id;
    QString repository;
    QString tag;
    QString size; // as printed, with its unit
    std::optional<Runtime> runtime;

    QString ref() const;

    bool operator==(const DockerImage&) const = default;
};

// One volume; equal names on two runtimes are two volumes.
struct DockerVolume {
    QString name;
    QString driver;
    QString mountpoint;
    std::optional<Runtime> runtime;
    // Compose labels what it creates with its project's name, which tells a project's own volumes
    // from those it only borrows.
    QMap<QString, QString> labels = {};
    // As for a container: labels the engine did not answer for in time were dropped.
    bool labelsUnanswered = false;

    QString id() const;

    bool operator==(const DockerVolume&) const = default;
};

size_t qHash(const Container& container, size_t seed = 0) noexcept;
size_t qHash(const DockerImage& image, size_t seed = 0) noexcept;
size_t qHash(const DockerVolume& volume, size_t seed = 0) noexcept;
size_t qHash(const std::optional<Runtime>& runtime, size_t seed = 0) noexcept;

namespace Docker {

inline constexpr auto projectLabel = "com.docker.compose.project";
inline constexpr auto serviceLabel = "com.docker.compose.service";
inline constexpr auto workingDirLabel = "com.docker.compose.project.working_dir";
inline constexpr auto workingDirLabelAlt = "com.docker.compose.project.working-dir";
inline constexpr auto configFilesLabel = "com.docker.compose.project.config_files";
inline constexpr auto environmentFileLabel = "com.docker.compose.project.environment_file";

// The identifier of an optional runtime: its name, or the empty text.
QString runtimeId(const std::optional<Runtime>& runtime);

// `text` without the blanks and tabs at either end (line breaks and other white space stay).
QString trimBlanks(QStringView text);

// Hands out one shared copy of equal texts, so that a listing of many containers repeating the same
// labels holds each text once and allocates it once.
class TextPool {
public:
    QString operator()(QStringView text);

private:
    QHash<QStringView, QString> m_texts;
};

// Whether `path` can only name itself. Label values reach the engine as JSON, which puts U+FFFD in
// place of every byte that is not UTF-8: a folder named with such a byte comes back as the name of a
// sibling, or of nothing, and acting there would act somewhere else.
bool namesExactly(QStringView path);
// "<path> cannot be named exactly: ...": why such a path is not acted on.
QString inexactNameMessage(const QString& path);

// The paths of a file label compose joined with commas (Container::configFiles), `dir` being the
// project folder of the container that carries it.
QStringList joinedFiles(const QString& joined, const QString& dir);

// The client's label text (key=value pairs joined by commas; values may hold commas) to a map. The
// text cannot always be split back: a value holding ",key=" reads as two labels.
QMap<QString, QString> parseLabels(const QString& text);
// The same, taking its keys and values from `pool` when one is given.
QMap<QString, QString> parseLabels(QStringView text, TextPool* pool);

// The client's port column to the unique "host:container" pairs of its published ports, joined by ", ".
QString shortPorts(const QString& column);

} // namespace Docker
