#pragma once

// Layouts of projects, outside containers, volumes, links and nested folders around one compose
// project to delete, generated from a seed: the same seed gives the same layout on every machine. A
// layout is a list of steps to make for real, what every user outside the project names on the disk,
// what the services of the other projects must still see, and a title that says what it holds.

#include "store/DeletionLayoutsHidden.h"

namespace Layouts {

namespace detail {

class Generator : HiddenUses {
public:
    Generator(Theme theme, quint32 seed, const QString& world) : HiddenUses(theme, seed, world) {}

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
            // Its folder's .env is the project's: compose reads it there.
            file(m_layout.targetReal + "/.env", "FLAVOUR=from-its-folder\n");
            const QString o = otherFolder();
            file(o + "/compose.yaml",
                 "services:\n  app:\n" +
                     detail::service("    environment: [\"FLAVOUR=${FLAVOUR:-none}\"]\n"));
            project(o, {"--project-directory", reach(QString()), "-f", o + "/compose.yaml"}).probes
                << echoes("app", "FLAVOUR", "from-its-folder");
            say("another project started with the folder as its own", "working folder");
            break;
        }
        case Theme::ProjectInside: {
            const QString inner = m_layout.targetReal + "/tools";
            file(inner + "/.env", "TOOL=inner\n");
            file(inner + "/compose.yaml",
                 "services:\n  tool:\n" + detail::service("    environment: [\"TOOL=${TOOL:-none}\"]\n"));
            const QString dir = reach("/tools");
            project(inner, {"--project-directory", dir, "-f", dir + "/compose.yaml"}).probes
                << echoes("tool", "TOOL", "inner");
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
            project(
                o, {"--project-directory", o, "-f", o + "/compose.yaml", "-f", reach("/other.override.yaml")})
                    .probes
                << echoes("app", "FLAVOUR", "shared");
            say("another project started with an override file inside", "-f file");
            break;
        }
        case Theme::Include:
            include();
            break;
        case Theme::Extends: {
            file(m_layout.targetReal + "/base.yaml",
                 "services:\n  base:\n" + detail::service("    environment: {BASE: extended}\n"));
            const QString o = otherFolder();
            const QString base = written(o, reach("/base.yaml"));
            file(o + "/compose.yaml",
                 QString("services:\n  app:\n    extends:\n      file: %1\n      service: base\n").arg(base));
            name(o, base, "the file a service extends");
            project(o, {"--project-directory", o}).probes << echoes("app", "BASE", "extended");
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
            project(o, {"--project-directory", o, "--env-file", env}).probes
                << echoes("app", "GREETING", "hello");
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
            project(o, {"--project-directory", o}).probes << reads("app", "/conf", "listen 80\n")
                                                          << reads("app", "/run/secrets/token", "s3cret\n");
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
        case Theme::SystemFolder:
            systemFolder();
            break;
        case Theme::EnvInterpolated:
            envInterpolated();
            break;
        case Theme::OtherFileNames:
            otherFileNames();
            break;
        case Theme::MovedLink:
            movedLink();
            break;
        case Theme::Seccomp:
            seccomp();
            break;
        case Theme::ExternalVolume:
            externalVolume();
            break;
        }
        scenery();
        startTarget();
        m_layout.title = m_parts.join("; ");
        return m_layout;
    }

private:
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
        project(o, {"--project-directory", o}).probes
            << reads("app", "/media/cover.png", "not really a picture\n");
        say("another project binding a folder inside", "compose bind");
    }

    // The target inside another project's folder; that project binds its whole folder, or names
    // nothing of the target's.
    void parentProject(bool binds)
    {
        const QString parent = QFileInfo(m_layout.targetReal).path();
        file(parent + "/.env", "SITE=parent\n");
        file(parent + "/compose.yaml",
             "services:\n  site:\n" + service(QString("    environment: [\"SITE=${SITE:-none}\"]\n") +
                                              (binds ? "    volumes: [\".:/site\"]\n" : "")));
        Step& step = project(parent, {"--project-directory", parent});
        step.probes << echoes("site", "SITE", "parent");
        if (binds)
            step.probes << reads("site", "/site/app/README", "app\n");
        say(binds ? "inside another project's folder, which it binds"
                  : "inside another project's folder, unused",
            binds ? "parent project" : "quiet parent project");
    }

    void include()
    {
        file(m_layout.targetReal + "/shared.yaml",
             "services:\n  helper:\n" + service("    environment: {HELPER: included}\n"));
        const QString o = otherFolder();
        const QString path = written(o, reach("/shared.yaml"));
        const bool longForm = coin();
        file(o + "/compose.yaml",
             QString(longForm ? "include:\n  - path: %1\n" : "include:\n  - %1\n").arg(path) +
                 "services:\n  app:\n" + service());
        name(o, path, "an included file");
        project(o, {"--project-directory", o}).probes << echoes("helper", "HELPER", "included");
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
        project(o, {"--project-directory", o}).probes << echoes("app", "MODE", "shared");
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
            project(o, {"--project-directory", o}, {QFileInfo(o).fileName() + "_kept"}).probes
                << reads("app", "/kept/records.db", "records\n");
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
