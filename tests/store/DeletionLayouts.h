#pragma once

// Layouts of projects, outside containers, volumes, links and nested folders around one compose
// project to delete, generated from a seed: the same seed gives the same layout on every machine. A
// layout is a list of steps to make for real, what every user outside the project names on the disk,
// and a title that says what it holds.

#include "support/TestSupport.h"

#include <QDir>
#include <QSet>
#include <QString>
#include <QStringList>

#include <random>

namespace Layouts {

// What a layout is about: the one way something outside the project uses its folder, or, for the
// last four, a shape of the folder that nobody else uses. One way per layout, so that a way the plan
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
};

inline constexpr int themeCount = int(Theme::TwoContexts) + 1;

// For the names of the tests.
inline const char* themeName(Theme theme)
{
    static const char* const names[themeCount] = {
        "BindAt",           "BindUnder",         "BindAbove",         "BindRoot",
        "ProjectBind",      "ProjectWorkingDir", "ProjectInside",     "ParentProjectBind",
        "ComposeFileThere", "Include",           "Extends",           "EnvFile",
        "StartEnvFile",     "BuildContext",      "ConfigsAndSecrets", "VolumeBind",
        "VolumeRbind",      "VolumeOverlay",     "VolumeDevice",      "Alone",
        "ThroughLink",      "QuietParent",       "TwoContexts"};
    return names[int(theme)];
}

// One thing to make, in order.
struct Step {
    enum class Kind { Folder, File, Link, Image, Project, Container, Volume, Context };
    Kind kind = Kind::Folder;
    QString path = {}; // Folder, File, Link
    QString text = {}; // File: what it holds; Link: where it leads, as written
    QString name = {}; // Image (a tag of the test image), Project, Container, Volume, Context
    // Project: compose's options before "up"; Container: the options of `run`; Volume: its `--opt` values
    QStringList args = {};
    QStringList volumes = {}; // Project: the volumes compose makes for it, by the engine's names
    bool running = true;      // Project, Container: started, or only made
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
    QList<Step> steps;
    QList<Named> named;
    QSet<QString> traits; // what it draws on, for the check that the set draws on everything
};

namespace detail {

inline QString service(const QString& extra = {}, const QString& image = TestSupport::testImage())
{
    // sleep as the first process ignores the polite signal: ended at once, the project goes down fast.
    return QStringLiteral(
               "    image: %1\n    command: sleep 600\n    stop_signal: SIGKILL\n    network_mode: none\n")
               .arg(image) +
           extra;
}

class Generator {
public:
    Generator(Theme theme, quint32 seed, const QString& world) : m_theme(theme), m_rng(seed), m_world(world)
    {
    }

    Layout make()
    {
        m_layout.target = TestSupport::uniqueName("target");
        placeTarget();
        switch (m_theme) {
        case Theme::BindAt:
            outsideBind(reach(QString()), "the folder");
            break;
        case Theme::BindUnder:
            if (coin()) {
                file(m_layout.targetReal + "/share/settings.ini", "mode=shared\n");
                outsideBind(reach("/share/settings.ini"), "a file inside");
            } else {
                file(m_layout.targetReal + "/share/notes.txt", "shared\n");
                outsideBind(reach("/share"), "a folder inside");
            }
            break;
        case Theme::BindAbove: {
            // The folder holding it, or the one above that.
            QString above = QFileInfo(m_layout.targetReal).path();
            if (coin())
                above = QFileInfo(above).path();
            outsideBind(above, "a folder above");
            break;
        }
        case Theme::BindRoot: {
            // Made, never started: it holds the host's root only as long as the layout lasts.
            const QString name = TestSupport::uniqueName("host-root");
            m_layout.steps << Step{Step::Kind::Container, {}, {}, name, {"-v", "/:/host:ro"}, {}, false};
            m_layout.bindsRoot = true;
            say("a container made with the root bound", "bind:/");
            break;
        }
        case Theme::ProjectBind:
            projectBind();
            break;
        case Theme::ProjectWorkingDir: {
            const QString o = otherFolder();
            file(o + "/compose.yaml", "services:\n  app:\n" + detail::service());
            project(o, {"--project-directory", reach(QString()), "-f", o + "/compose.yaml"});
            say("another project started with the folder as its own", "working folder");
            break;
        }
        case Theme::ProjectInside: {
            const QString inner = m_layout.targetReal + "/tools";
            file(inner + "/compose.yaml", "services:\n  tool:\n" + detail::service());
            const QString dir = reach("/tools");
            project(inner, {"--project-directory", dir, "-f", dir + "/compose.yaml"});
            say("another project in a folder inside", "nested project");
            break;
        }
        case Theme::ParentProjectBind:
            parentProject(true);
            break;
        case Theme::ComposeFileThere: {
            const QString o = otherFolder();
            file(o + "/compose.yaml", "services:\n  app:\n" + detail::service());
            file(m_layout.targetReal + "/other.override.yaml",
                 "services:\n  app:\n    environment: {FLAVOUR: shared}\n");
            project(o, {"--project-directory", o, "-f", o + "/compose.yaml", "-f",
                        reach("/other.override.yaml")});
            say("another project started with an override file inside", "-f file");
            break;
        }
        case Theme::Include:
            include();
            break;
        case Theme::Extends: {
            file(m_layout.targetReal + "/base.yaml", "services:\n  base:\n" + detail::service());
            const QString o = otherFolder();
            const QString base = written(o, reach("/base.yaml"));
            file(o + "/compose.yaml",
                 QString("services:\n  app:\n    extends:\n      file: %1\n      service: base\n").arg(base));
            name(o, base, "the file a service extends");
            project(o, {"--project-directory", o});
            say("another project extending a service of a file inside", "extends");
            break;
        }
        case Theme::EnvFile:
            envFile();
            break;
        case Theme::StartEnvFile: {
            file(m_layout.targetReal + "/shared.env", "GREETING=hello\n");
            const QString o = otherFolder();
            file(o + "/compose.yaml",
                 "services:\n  app:\n" + detail::service("    environment: [\"GREETING=${GREETING}\"]\n"));
            const QString env = reach("/shared.env");
            project(o, {"--project-directory", o, "--env-file", env});
            m_layout.named << Named{env, "project " + QFileInfo(o).fileName(),
                                    "the env file it was started with"};
            say("another project started with --env-file naming a file inside", "--env-file");
            break;
        }
        case Theme::BuildContext: {
            const QString o = otherFolder();
            QString build;
            if (coin()) {
                file(m_layout.targetReal + "/image/Dockerfile", "FROM scratch\n");
                const QString context = written(o, reach("/image"));
                build = QStringLiteral("      context: %1\n").arg(context);
                name(o, context, "its build context", true);
                say("another project building from a folder inside", "build.context");
            } else {
                file(m_layout.targetReal + "/image.Dockerfile", "FROM scratch\n");
                const QString dockerfile = written(o, reach("/image.Dockerfile"));
                build = QStringLiteral("      context: .\n      dockerfile: %1\n").arg(dockerfile);
                name(o, dockerfile, "its Dockerfile");
                say("another project building with a Dockerfile inside", "build.dockerfile");
            }
            // Under a tag of its own: should compose build after all, it replaces nobody's image.
            const QString image = TestSupport::uniqueName("image");
            m_layout.steps << Step{Step::Kind::Image, {}, {}, image};
            file(o + "/compose.yaml",
                 "services:\n  app:\n" +
                     detail::service("    pull_policy: never\n    build:\n" + build, image));
            project(o, {"--project-directory", o});
            break;
        }
        case Theme::ConfigsAndSecrets: {
            file(m_layout.targetReal + "/conf/app.conf", "listen 80\n");
            file(m_layout.targetReal + "/conf/token", "s3cret\n");
            const QString o = otherFolder();
            const QString conf = written(o, reach("/conf/app.conf"));
            const QString token = written(o, reach("/conf/token"));
            file(o + "/compose.yaml",
                 "services:\n  app:\n" + detail::service("    configs: [conf]\n    secrets: [token]\n") +
                     QString("configs:\n  conf:\n    file: %1\nsecrets:\n  token:\n    file: %2\n")
                         .arg(conf, token));
            name(o, conf, "a config's file");
            name(o, token, "a secret's file");
            project(o, {"--project-directory", o});
            say("another project taking a config and a secret from files inside", "configs/secrets");
            break;
        }
        case Theme::VolumeBind:
            boundVolume(draw(2) ? "bind" : "bind,ro", "volume o=bind");
            break;
        case Theme::VolumeRbind:
            boundVolume(draw(2) ? "rbind" : "rbind,ro", "volume o=rbind");
            break;
        case Theme::VolumeOverlay:
            overlayVolume();
            break;
        case Theme::VolumeDevice: {
            // Never mounted: the file is no file system. What the volume would hold lives in it all the same.
            file(m_layout.targetReal + "/disk.img", "an image of a disk\n");
            const QString device = reach("/disk.img");
            const QString volume = TestSupport::uniqueName("device");
            m_layout.steps << Step{Step::Kind::Volume, {}, {}, volume, {"type=ext4", "device=" + device}};
            m_layout.named << Named{device, "volume " + volume, "its device"};
            say("a volume whose device is a file inside", "volume device=");
            break;
        }
        case Theme::Alone:
        case Theme::ThroughLink:
        case Theme::TwoContexts:
            m_layout.alone = true;
            say("nobody else uses the folder", "alone");
            break;
        case Theme::QuietParent:
            m_layout.alone = true;
            parentProject(false);
            break;
        }
        scenery();
        startTarget();
        m_layout.title = m_parts.join("; ");
        return m_layout;
    }

private:
    Theme m_theme;
    std::mt19937 m_rng; // exactly specified by the standard, so a seed means one layout everywhere
    QString m_world;
    Layout m_layout;
    QStringList m_parts; // of the title
    QString m_userLink;  // a link of a user's own to the folder, once made

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

    // What the project in `from` names in its compose file, as compose reads it.
    void name(const QString& from, const QString& written, const QString& how, bool isFolder = false)
    {
        m_layout.named << Named{QDir::cleanPath(QDir(from).filePath(written)),
                                "project " + QFileInfo(from).fileName(), how, isFolder};
    }

    // A path as a compose file in `from` writes it: relative or absolute, as drawn.
    QString written(const QString& from, const QString& path)
    {
        return coin() ? path : QDir(from).relativeFilePath(path);
    }

    // Another project's folder, named as the project is.
    QString otherFolder() { return m_world + "/others/" + TestSupport::uniqueName("o"); }

    // `docker compose -p <name> <options> up` of the project in `dir`, running or only made, as drawn.
    // A folder made by otherFolder gives the project its name.
    void project(const QString& dir, QStringList options, const QStringList& volumes = {})
    {
        const QString name = QFileInfo(dir).fileName().startsWith(TestSupport::runPrefix())
                                 ? QFileInfo(dir).fileName()
                                 : TestSupport::uniqueName("p");
        if (!options.contains("-f"))
            options << "-f" << dir + "/compose.yaml";
        m_layout.steps << Step{Step::Kind::Project, {}, {}, name, options, volumes, userRuns()};
    }

    bool userRuns()
    {
        const bool running = draw(3) != 0;
        if (!running)
            say("the user made, not started", "user made, not started");
        return running;
    }

    // Where the target lies, and how it is started: from its own folder, through a link to it, or
    // through a link to the folder holding it.
    void placeTarget()
    {
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
        const QString dir = m_layout.targetDir;
        const QString own = m_theme == Theme::TwoContexts
                                ? QString("  own:\n    driver_opts: {type: none, o: bind, device: %1/vol}\n")
                                      .arg(m_layout.targetReal)
                                : "  own: {}\n";
        file(m_layout.targetReal + "/compose.yaml",
             "services:\n  web:\n" + service("    volumes: [\"./data:/data\", \"own:/own\"]\n") +
                 "volumes:\n" + own);
        m_layout.steps << Step{Step::Kind::Project,
                               {},
                               {},
                               m_layout.target,
                               {"--project-directory", dir, "-f", dir + "/compose.yaml"},
                               {m_layout.target + "_own"},
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
            return above + "/app" + sub;
        }
        case 2:
            return m_layout.targetDir + sub;
        default:
            return m_layout.targetReal + sub;
        }
    }

    void outsideBind(const QString& source, const QString& what)
    {
        const QString name = TestSupport::uniqueName("outside");
        const QStringList options =
            coin() ? QStringList{"-v", source + ":/u"}
                   : QStringList{"--mount", QStringLiteral("type=bind,source=%1,target=/u").arg(source)};
        m_layout.steps << Step{Step::Kind::Container, {}, {}, name, options, {}, userRuns()};
        say(QStringLiteral("an outside container binding %1").arg(what), m_theme == Theme::BindAt ? "bind:at"
                                                                         : m_theme == Theme::BindUnder
                                                                             ? "bind:under"
                                                                             : "bind:above");
    }

    void projectBind()
    {
        file(m_layout.targetReal + "/media/cover.png", "not really a picture\n");
        const QString o = otherFolder();
        QString source;
        if (coin()) {
            // A link in the other project's own folder leads into the target's.
            link(o + "/media", reach("/media"));
            source = "./media";
            say("through a link in that project's folder", "link in another project");
        } else {
            source = written(o, reach("/media"));
        }
        const QString mount =
            coin() ? QStringLiteral("    volumes: [\"%1:/media\"]\n").arg(source)
                   : QStringLiteral(
                         "    volumes:\n      - type: bind\n        source: %1\n        target: /media\n")
                         .arg(source);
        file(o + "/compose.yaml", "services:\n  app:\n" + service(mount));
        project(o, {"--project-directory", o});
        say("another project binding a folder inside", "compose bind");
    }

    // The target inside another project's folder; that project binds its whole folder, or names
    // nothing of the target's.
    void parentProject(bool binds)
    {
        const QString parent = QFileInfo(m_layout.targetReal).path();
        file(parent + "/compose.yaml",
             "services:\n  site:\n" + service(binds ? "    volumes: [\".:/site\"]\n" : QString()));
        project(parent, {"--project-directory", parent});
        say(binds ? "inside another project's folder, which it binds"
                  : "inside another project's folder, unused",
            binds ? "parent project" : "quiet parent project");
    }

    void include()
    {
        file(m_layout.targetReal + "/shared.yaml", "services:\n  helper:\n" + service());
        const QString o = otherFolder();
        const QString path = written(o, reach("/shared.yaml"));
        const bool longForm = coin();
        file(o + "/compose.yaml",
             QString(longForm ? "include:\n  - path: %1\n" : "include:\n  - %1\n").arg(path) +
                 "services:\n  app:\n" + service());
        name(o, path, "an included file");
        project(o, {"--project-directory", o});
        say(longForm ? "another project including a file inside (long form)"
                     : "another project including a file inside",
            "include");
    }

    void envFile()
    {
        file(m_layout.targetReal + "/app.env", "MODE=shared\n");
        const QString o = otherFolder();
        const QString path = written(o, reach("/app.env"));
        const QString forms[] = {"    env_file: %1\n", "    env_file: [\"%1\"]\n",
                                 "    env_file:\n      - path: %1\n        required: true\n"};
        file(o + "/compose.yaml", "services:\n  app:\n" + service(forms[draw(3)].arg(path)));
        name(o, path, "a service's env_file");
        project(o, {"--project-directory", o});
        say("another project reading a service's env_file inside", "env_file");
    }

    // A volume the local driver binds into the folder: made by hand or by another project's compose
    // file, mounted by a container or by nothing yet.
    void boundVolume(const QString& flags, const QString& trait)
    {
        folder(m_layout.targetReal + "/store");
        file(m_layout.targetReal + "/store/records.db", "records\n");
        const QString device = reach("/store");
        if (coin()) {
            const QString o = otherFolder();
            file(o + "/compose.yaml",
                 "services:\n  app:\n" + service("    volumes: [\"kept:/kept\"]\n") +
                     QStringLiteral(
                         "volumes:\n  kept:\n    driver_opts: {type: none, o: \"%1\", device: \"%2\"}\n")
                         .arg(flags, device));
            project(o, {"--project-directory", o}, {QFileInfo(o).fileName() + "_kept"});
            m_layout.named << Named{device, "volume " + QFileInfo(o).fileName() + "_kept", "its host folder",
                                    true};
            say(QStringLiteral("another project's volume bound inside with o=%1").arg(flags), trait);
            return;
        }
        const QString volume = TestSupport::uniqueName("vol");
        m_layout.steps << Step{
            Step::Kind::Volume, {}, {}, volume, {"type=none", "o=" + flags, "device=" + device}};
        m_layout.named << Named{device, "volume " + volume, "its host folder", true};
        mountedBy(volume);
        say(QStringLiteral("a volume bound inside with o=%1").arg(flags), trait);
    }

    void overlayVolume()
    {
        // Which layers lie in the folder: the lower one, the upper one with its work folder, or all.
        const int inside = int(draw(3));
        const QString here = m_layout.targetReal + "/layers";
        const QString there = m_world + "/elsewhere/layers";
        const QString lower = (inside != 1 ? here : there) + "/lower";
        const QString upper = (inside != 0 ? here : there) + "/upper";
        const QString work = (inside != 0 ? here : there) + "/work";
        for (const QString& dir : {upper, work})
            folder(dir);
        file(lower + "/base.txt", "lower layer\n");
        const QString volume = TestSupport::uniqueName("overlay");
        m_layout.steps << Step{
            Step::Kind::Volume,
            {},
            {},
            volume,
            {"type=overlay", "device=overlay",
             QStringLiteral("o=lowerdir=%1,upperdir=%2,workdir=%3").arg(lower, upper, work)}};
        const QString by = "volume " + volume;
        m_layout.named << Named{lower, by, "its lower layer", true}
                       << Named{upper, by, "its upper layer", true}
                       << Named{work, by, "its work folder", true};
        mountedBy(volume);
        const QString which[] = {"the lower", "the upper", "every"};
        say(QStringLiteral("an overlay volume with %1 layer inside").arg(which[inside]), "volume overlay");
    }

    // A container mounting `volume`, started or only made; or none.
    void mountedBy(const QString& volume)
    {
        if (draw(4) == 0) {
            say("mounted by no container", "volume mounted by nothing");
            return;
        }
        const QString name = TestSupport::uniqueName("mounter");
        m_layout.steps << Step{Step::Kind::Container, {}, {}, name, {"-v", volume + ":/v"}, {}, userRuns()};
    }

    // Neighbours that use nothing of the folder: a sibling whose name begins with the folder's, a
    // link out of the folder to a folder someone uses, a link into it that nobody uses.
    void scenery()
    {
        const int count = m_layout.alone ? 2 : 1;
        QSet<quint32> drawn;
        for (int i = 0; i < count; ++i) {
            quint32 which = draw(3);
            while (drawn.contains(which))
                which = (which + 1) % 3;
            drawn << which;
            if (which == 0) {
                const QString sibling = m_layout.targetReal + "-old";
                file(sibling + "/data/old.txt", "older\n");
                file(sibling + "/compose.yaml",
                     "services:\n  old:\n" + service("    volumes: [\"./data:/data\"]\n"));
                const QString name = TestSupport::uniqueName("sibling");
                m_layout.steps << Step{Step::Kind::Project,
                                       {},
                                       {},
                                       name,
                                       {"--project-directory", sibling, "-f", sibling + "/compose.yaml"},
                                       {},
                                       true};
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

// The layout of `theme` drawn from `seed`, made under the folder `world`. Its title begins with
// `index`, so a failure names the layout.
inline Layout generate(int index, Theme theme, quint32 seed, const QString& world)
{
    Layout layout = detail::Generator(theme, seed, world).make();
    layout.title = QStringLiteral("layout %1 (seed %2): %3").arg(index).arg(seed).arg(layout.title);
    return layout;
}

} // namespace Layouts
