#pragma once

// What a generated layout holds, and the tools that draw one from a seed: where the project to delete
// lies and how it is started, how a user names its folder, other projects, and the neighbours that use
// nothing of it. The ways of using the folder are drawn in DeletionLayouts.h and
// DeletionLayoutsHidden.h.

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <random>

namespace Layouts {

// What a layout is about: the one way something outside the project uses its folder, or a shape of
// the folder that nobody else uses (Alone to TwoContexts). One way per layout, so that a way the plan
// sees cannot hide one it misses.
enum class Theme {
    BindAt,            // an outside container bind-mounts the folder
    BindUnder,         // ... a folder or file inside it
    BindAbove,         // ... a folder that holds it
    BindRoot,          // ... the root of the file system
    ProjectBind,       // another project's compose file bind-mounts something inside it
    ProjectWorkingDir, // another project was started with it as its folder
    ProjectInside,     // another project lives in a folder inside it
    ParentProjectBind, // it lies inside another project's folder, which that project bind-mounts
    ComposeFileThere,  // another project was started with a compose file that lies in it
    Include,           // another project's compose file includes a file in it
    Extends,           // ... extends a service of a file in it
    EnvFile,           // ... reads a service's env_file from it
    StartEnvFile,      // another project was started with --env-file naming a file in it
    BuildContext,      // another project's compose file builds from a context in it
    ConfigsAndSecrets, // ... takes a config and a secret from files in it
    VolumeBind,        // a volume the local driver binds (o=bind) to a folder inside it
    VolumeRbind,       // ... with o=rbind
    VolumeOverlay,     // an overlay volume with a layer in it
    VolumeDevice,      // a volume whose device is a file in it
    Alone,             // nobody else uses it; folders, links and users around it
    ThroughLink,       // nobody else uses it; the project was started from a link to it
    QuietParent,       // nobody else uses it; it lies inside a project that names nothing in it
    TwoContexts,       // nobody else uses it; the engine is reached through a second context too
    SystemFolder,      // it lies directly under the root of the file system, a place of everyone's
    EnvInterpolated,   // another project's env_file names a file in it through a variable of its .env
    OtherFileNames,    // another project, down and remembered, whose compose file is not compose.yaml
                       // in its folder
    MovedLink,         // an outside container bound it through a link that leads elsewhere since
    Seccomp,           // another project's service takes its seccomp profile from a file in it
    ExternalVolume,    // another project, down and remembered, keeps its data in the project's volume
};

inline constexpr int themeCount = int(Theme::ExternalVolume) + 1;

// For the names of the tests. The test-run configuration finds the layouts that bind the root by
// theirs, to run them alone.
inline const char* themeName(Theme theme)
{
    static const char* const names[themeCount] = {
        "BindAt",           "BindUnder",         "BindAbove",         "BindRoot",
        "ProjectBind",      "ProjectWorkingDir", "ProjectInside",     "ParentProjectBind",
        "ComposeFileThere", "Include",           "Extends",           "EnvFile",
        "StartEnvFile",     "BuildContext",      "ConfigsAndSecrets", "VolumeBind",
        "VolumeRbind",      "VolumeOverlay",     "VolumeDevice",      "Alone",
        "ThroughLink",      "QuietParent",       "TwoContexts",       "SystemFolder",
        "EnvInterpolated",  "OtherFileNames",    "MovedLink",         "Seccomp",
        "ExternalVolume"};
    return names[int(theme)];
}

// What a service of another project sees of the files it relies on, asked once compose has brought
// the project up again: `script` runs in the service's container (`sh -c`) and prints what it read.
struct Probe {
    QString service;
    QString script;
    // What it must print; none: what it printed while the project ran before the deletion.
    std::optional<QString> expected = std::nullopt;
};

// One thing to make, in order.
struct Step {
    enum class Kind { Folder, File, Link, Relink, Image, Project, Container, Volume, Context };
    Kind kind = Kind::Folder;
    QString path = {}; // Folder, File, Link, Relink
    QString text = {}; // File: what it holds; Link, Relink: where it leads, as written
    QString name = {}; // Image (a tag of the test image), Project, Container, Volume, Context
    // Project: compose's options before "up"; Container: the options of `run`; Volume: its `--opt` values
    QStringList args = {};
    QStringList volumes = {}; // Project: the volumes compose makes for it, by the engine's names
    bool running = true;      // Project, Container: started, or only made
    // Project: where compose is started (the root of the file system when empty); whether it is taken
    // down once the store has seen it run, so that only the store's memory of it is left; what its
    // services see of their files.
    QString cwd = {};
    bool remembered = false;
    QList<Probe> probes = {};
};

// A path that a user outside the project names where the engine does not show it: in a compose file,
// or in a volume's options. `path` is what compose or the driver reads: absolute, links and all, with
// ".." taken away by text as compose does.
struct Named {
    QString path;
    QString by;  // "project X", "volume X"
    QString how; // "an included file", "its upper layer", ...
    bool folder = false;
};

struct Layout {
    QString title;
    QString target;         // the project to delete
    QString targetDir;      // its folder as it was started, possibly through a link
    QString targetReal;     // the same folder by its own name
    bool alone = false;     // nothing outside the project uses its folder
    bool bindsRoot = false; // a container binds the root: no folder on the engine may be offered meanwhile
    bool contexts = false;
    bool neverOffered = false; // its folder belongs to everyone: never offered, whoever uses it
    bool needsRoot = false;    // only root may make it
    QStringList outside;       // folders it makes outside its world, to be removed with it
    QList<Step> steps;
    QList<Named> named;
    QSet<QString> traits; // what it draws on, for the check that the set draws on everything
};

namespace detail {

// A service that sleeps, ended at once: sleep as the first process ignores the polite signal.
inline QString service(const QString& extra = {}, const QString& image = TestSupport::testImage())
{
    return QStringLiteral(
               "    image: %1\n    command: sleep 600\n    stop_signal: SIGKILL\n    network_mode: none\n")
               .arg(image) +
           extra;
}

// A probe that prints a variable of the service's environment.
inline Probe echoes(const QString& service, const QString& variable, const QString& value)
{
    return {service, QStringLiteral("echo \"$%1\"").arg(variable), value + u'\n'};
}

// A probe that prints a file the service reads.
inline Probe reads(const QString& service, const QString& path, const QString& text)
{
    return {service, QStringLiteral("cat %1").arg(path), text};
}

// The tools a layout is drawn with, from one seed: every draw comes from the one generator, in the
// order the layout is made.
class Drawing {
protected:
    Drawing(Theme theme, quint32 seed, const QString& world) : m_theme(theme), m_rng(seed), m_world(world) {}

    Theme m_theme;
    std::mt19937 m_rng; // exactly specified by the standard, so a seed means one layout everywhere
    QString m_world;
    Layout m_layout;
    QStringList m_parts;          // of the title
    QString m_userLink;           // a link of a user's own to the folder, once made
    bool m_targetStarted = false; // its step is in the list
    bool m_sharedVolume = false;  // it declares a volume another project takes as external

    quint32 draw(quint32 n) { return m_rng() % n; }
    bool coin() { return draw(2) == 1; }

    void say(const QString& part, const QString& trait)
    {
        if (!m_parts.contains(part))
            m_parts << part;
        m_layout.traits << trait;
    }

    void folder(const QString& path) { m_layout.steps << Step{Step::Kind::Folder, path}; }
    void file(const QString& path, const QString& text)
    {
        m_layout.steps << Step{Step::Kind::File, path, text};
    }
    void link(const QString& path, const QString& to) { m_layout.steps << Step{Step::Kind::Link, path, to}; }

    // What the project in `from` names in its compose file, as compose reads it; `by` when the project
    // is not named after `from`.
    void name(const QString& from, const QString& written, const QString& how, bool isFolder = false,
              const QString& by = {})
    {
        m_layout.named << Named{QDir::cleanPath(QDir(from).filePath(written)),
                                by.isEmpty() ? "project " + QFileInfo(from).fileName() : by, how, isFolder};
    }

    // A path as a compose file in `from` writes it: relative or absolute, as drawn.
    QString written(const QString& from, const QString& path)
    {
        return coin() ? path : QDir(from).relativeFilePath(path);
    }

    // Another project's folder, named as the project is.
    QString otherFolder() { return m_world + "/others/" + TestSupport::uniqueName("o"); }

    // `docker compose -p <name> <options> up` of the project in `dir`, exactly as given; a folder made
    // by otherFolder gives the project its name. The step, to add to at once.
    Step& addProject(const QString& dir, const QStringList& options, const QStringList& volumes, bool running)
    {
        const QString name = QFileInfo(dir).fileName().startsWith(TestSupport::runPrefix())
                                 ? QFileInfo(dir).fileName()
                                 : TestSupport::uniqueName("p");
        m_layout.steps << Step{Step::Kind::Project, {}, {}, name, options, volumes, running};
        return m_layout.steps.last();
    }

    // The same with its compose.yaml named when no file is, running or only made, as drawn.
    Step& project(const QString& dir, QStringList options, const QStringList& volumes = {})
    {
        if (!options.contains("-f"))
            options << "-f" << dir + "/compose.yaml";
        return addProject(dir, options, volumes, userRuns());
    }

    bool userRuns()
    {
        const bool running = draw(3) != 0;
        if (!running)
            say("the user made, not started", "user made, not started");
        return running;
    }

    // A project the user ran once and took down: it stands only in the store's memory, by what it was
    // started from, so what it relies on is named here.
    void remembered(Step& step, const QString& dir, const QStringList& files)
    {
        step.remembered = true;
        const QString by = "project " + step.name;
        m_layout.named << Named{dir, by, "working folder", false};
        for (const QString& file : files)
            m_layout.named << Named{file, by, "compose file"};
        m_layout.traits << "remembered and down";
    }

    // Where the target lies, and how it is started: from its own folder, through a link to it, or
    // through a link to the folder holding it.
    void placeTarget()
    {
        if (m_theme == Theme::SystemFolder) {
            // Directly under the root, as a user's /srv or /data: a folder of its own all the same.
            m_layout.targetReal = '/' + TestSupport::uniqueName("sys");
            m_layout.targetDir = m_layout.targetReal;
            m_layout.outside << m_layout.targetReal;
            m_layout.neverOffered = true;
            m_layout.needsRoot = true;
            say("its folder directly under the root of the file system", "system folder");
            file(m_layout.targetReal + "/data/keep.txt", "the project's own\n");
            file(m_layout.targetReal + "/README", "app\n");
            return;
        }
        const bool nested = m_theme == Theme::ParentProjectBind || m_theme == Theme::QuietParent;
        const QString holder = m_world + (nested ? "/parent" : draw(3) == 0 ? "/deep/er" : "/projects");
        m_layout.targetReal = holder + "/app";
        m_layout.targetDir = m_layout.targetReal;
        enum { Own, LinkToIt, LinkAbove } way = Own;
        if (m_theme == Theme::ThroughLink)
            way = LinkToIt;
        else if (m_theme == Theme::Alone)
            way = Own;
        else if (m_theme == Theme::QuietParent || m_theme == Theme::TwoContexts)
            way = coin() ? LinkAbove : Own;
        else
            way = draw(4) == 0 ? LinkAbove : draw(5) == 0 ? LinkToIt : Own;
        if (way == LinkToIt) {
            m_layout.targetDir = m_world + "/app-link";
            link(m_layout.targetDir,
                 coin() ? m_layout.targetReal : QDir(m_world).relativeFilePath(m_layout.targetReal));
            say("started from a link to its folder", "target through a link");
        } else if (way == LinkAbove) {
            link(m_world + "/via", holder);
            m_layout.targetDir = m_world + "/via/app";
            say("started through a link to the folder holding it", "target through an earlier link");
        }
        file(m_layout.targetReal + "/data/keep.txt", "the project's own\n");
        file(m_layout.targetReal + "/README", "app\n");
        if (m_theme == Theme::TwoContexts) {
            folder(m_layout.targetReal + "/vol");
            m_layout.steps << Step{Step::Kind::Context, {}, {}, "second"};
            m_layout.contexts = true;
            say("its own volume bound inside, the engine reached through two contexts", "two contexts");
        }
    }

    void startTarget()
    {
        if (m_targetStarted)
            return;
        m_targetStarted = true;
        const QString dir = m_layout.targetDir;
        QString volumes = m_theme == Theme::TwoContexts
                              ? QString("  own:\n    driver_opts: {type: none, o: bind, device: %1/vol}\n")
                                    .arg(m_layout.targetReal)
                              : "  own: {}\n";
        QString mounts = "\"./data:/data\", \"own:/own\"";
        QStringList made{m_layout.target + "_own"};
        if (m_sharedVolume) {
            volumes += "  shared: {}\n";
            mounts += ", \"shared:/shared\"";
            made << m_layout.target + "_shared";
        }
        file(m_layout.targetReal + "/compose.yaml", "services:\n  web:\n" +
                                                        service(QString("    volumes: [%1]\n").arg(mounts)) +
                                                        "volumes:\n" + volumes);
        m_layout.steps << Step{Step::Kind::Project,
                               {},
                               {},
                               m_layout.target,
                               {"--project-directory", dir, "-f", dir + "/compose.yaml"},
                               made,
                               true};
    }

    // The folder, or `sub` inside it, as a user names it: by its own name, by the name the project was
    // started from, through a link of the user's own to it, or through a link to the folder above.
    QString reach(const QString& sub)
    {
        switch (draw(5)) {
        case 0:
            if (m_userLink.isEmpty()) {
                m_userLink = m_world + "/shortcut";
                link(m_userLink, m_layout.targetReal);
            }
            say("the user reaching it through a link of its own", "user through a link");
            return m_userLink + sub;
        case 1: {
            const QString above = m_world + "/up";
            if (!m_layout.traits.contains("user through an earlier link"))
                link(above, QFileInfo(m_layout.targetReal).path());
            say("the user reaching it through a link to the folder above", "user through an earlier link");
            return above + '/' + QFileInfo(m_layout.targetReal).fileName() + sub;
        }
        case 2:
            return m_layout.targetDir + sub;
        default:
            return m_layout.targetReal + sub;
        }
    }

    // Neighbours that use nothing of the folder: a sibling whose name begins with the folder's, a
    // link out of the folder to a folder someone uses, a link into it that nobody uses. A folder under
    // the root gets no sibling there.
    void scenery()
    {
        const int count = m_layout.alone ? 2 : 1;
        const bool siblingFits = m_layout.outside.isEmpty();
        QSet<quint32> drawn;
        for (int i = 0; i < count; ++i) {
            quint32 which = draw(3);
            while (drawn.contains(which) || (which == 0 && !siblingFits))
                which = (which + 1) % 3;
            drawn << which;
            if (which == 0) {
                const QString sibling = m_layout.targetReal + "-old";
                file(sibling + "/data/old.txt", "older\n");
                file(sibling + "/compose.yaml",
                     "services:\n  old:\n" + service("    volumes: [\"./data:/data\"]\n"));
                addProject(sibling, {"--project-directory", sibling, "-f", sibling + "/compose.yaml"}, {},
                           true)
                        .probes
                    << reads("old", "/data/old.txt", "older\n");
                m_parts << "a sibling project named like it";
            } else if (which == 1) {
                const QString side = m_world + "/side";
                file(side + "/log.txt", "side\n");
                link(m_layout.targetReal + "/side-link", side);
                const QString name = TestSupport::uniqueName("side");
                m_layout.steps << Step{Step::Kind::Container,   {}, {},  name,
                                       {"-v", side + ":/side"}, {}, true};
                m_parts << "a link out of it to a folder a container binds";
            } else {
                link(m_world + "/into-data", m_layout.targetReal + "/data");
                m_parts << "a link into it that nobody uses";
            }
        }
    }

    static QString service(const QString& extra = {}) { return detail::service(extra); }
};

} // namespace detail

} // namespace Layouts
