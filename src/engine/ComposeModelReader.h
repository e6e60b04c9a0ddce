#pragma once

#include "engine/ComposeUses.h"
#include "engine/ComposeVariables.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

namespace YAML {
class Node;
}

namespace Docker {

// Reads a project's compose files, and every file they include or extend, gathering every host path
// their fields name and the engine names of the volumes they declare. Every field counts, known or
// not, but for those compose plainly takes as no path on this host (what a container runs, sees
// inside or is told, names, ports, labels, extensions): a list of fields to read would miss the next
// one. Relative paths are taken from the project's folder and the file's own. What cannot be known
// stops nothing: the rest is read on, so every volume named anywhere is gathered.
class ComposeModelReader {
public:
    // How many merges ("<<") in a row are followed. compose follows them as deep as they go, and a
    // hand-written file seldom takes more than a few; past this the reading says it stopped.
    static constexpr int deepestMerge = 256;

    ComposeModelReader() = default;

    // Reads `file`, filled in from `env`, its relative paths taken from each of `bases` and from its
    // own folder. False when it is plainly not there.
    bool read(const QString& file, const QStringList& bases, const Variables& env, int depth = 0);

    // A path that cannot be known. The first reason given stands; reading goes on.
    void unknown(const QString& why);
    // What cannot be read or followed to its end (a file, an include, a limit): it may name any path
    // and any volume.
    void unknownVolumes(const QString& why);
    // A variable not set here that a path or name goes through.
    void unset(const QString& variable);
    void add(const QStringList& paths);

    // The project's name its own files give (top-level `name`, the last file's winning); empty when
    // they give none. Not known when it is given through a variable that is not set here, the one
    // `nameMissing` names.
    const QString& nameGiven() const { return m_nameGiven; }
    bool nameKnown() const { return m_nameKnown; }
    const QString& nameMissing() const { return m_nameMissing; }
    // The volumes declared without a name of their own are the engine's "<project>_<key>". Without
    // a project's name their names are not known; `missing` is the variable not set here that keeps
    // it from being known, if one does.
    void nameVolumesOf(const QString& project, const QString& missing = {});

    const ComposeFileUses& uses() const { return m_uses; }

private:
    using Fields = std::vector<std::pair<QString, YAML::Node>>;

    ComposeFileUses m_uses;
    QString m_nameGiven;
    bool m_nameKnown = true;
    QString m_nameMissing;
    QString m_file;               // the file being read, for what is said of it
    QStringList m_unnamedVolumes; // their keys
    Variables m_env;
    QSet<QString> m_read;
    int m_nodes = 0;

    bool spend();
    std::vector<YAML::Node> values(const YAML::Node& map, const char* key, int depth = 0);
    std::vector<YAML::Node> entries(const YAML::Node& node, int depth = 0);
    Fields fields(const YAML::Node& map, int depth = 0);

    std::optional<QString> filledPath(const QString& raw);
    QStringList resolve(const QString& raw, const QStringList& bases);
    QStringList resolveFollowed(const QString& raw, const QStringList& bases, const char* what);
    void use(const QString& raw, const QStringList& bases);
    void useEach(const YAML::Node& node, const QStringList& bases, const char* key = "path");
    void usePieces(const QString& raw, const QStringList& bases);
    void walk(const YAML::Node& node, const QStringList& bases, int depth = 0, bool keysAreNames = false,
              const QSet<QString>& besides = {});

    void readDocument(const YAML::Node& document, const QStringList& bases, int depth);
    void readIncludes(const YAML::Node& include, const QStringList& bases, int depth);
    void readService(const YAML::Node& service, const QStringList& bases, int depth);
    void readBuild(const YAML::Node& build, const QStringList& bases);
    void additionalContext(const QString& value, const QStringList& bases);
    void readVolume(const YAML::Node& volume, const QStringList& bases);
    void nameVolume(const QString& key, const YAML::Node& volume);
};

} // namespace Docker
