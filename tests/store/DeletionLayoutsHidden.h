#pragma once

// Uses of the folder that show nowhere on the engine, or show there as something else: a folder of
// everyone's, a variable of a .env naming a file, a project that is down and only remembered, a link
// that led into the folder when a container was started and leads elsewhere now, a seccomp profile,
// a volume another project declares external.

#include "store/DeletionLayoutsDrawing.h"

namespace Layouts::detail {

class HiddenUses : protected Drawing {
protected:
    using Drawing::Drawing;

    // Where the folder lies is all of it: see placeTarget.
    void systemFolder() {}

    // A running project whose env_file is `${CFG}`, CFG coming from the .env beside its compose file:
    // built from another variable there, or quoted and followed by a comment.
    void envInterpolated()
    {
        file(m_layout.targetReal + "/conf/b.env", "MARK=from-the-folder\n");
        const QString o = otherFolder();
        const QString conf = written(o, reach("/conf"));
        const bool quoted = coin();
        file(o + "/.env", quoted ? QString("CFG=\"%1/b.env\" # shared\n").arg(conf)
                                 : QString("BASE=%1\nCFG=${BASE}/b.env\n").arg(conf));
        file(o + "/compose.yaml", "services:\n  app:\n" + service("    env_file: ${CFG}\n"));
        name(o, conf + "/b.env", "a service's env_file, named by a variable of its .env");
        addProject(o, {"--project-directory", o, "-f", o + "/compose.yaml"}, {}, true).probes
            << echoes("app", "MARK", "from-the-folder");
        say(quoted ? "another project's env_file named by a quoted variable of its .env, with a comment"
                   : "another project's env_file named by a variable of its .env built from another",
            quoted ? ".env quoted" : ".env interpolated");
    }

    // A project the user ran and took down, whose compose file compose.yaml in its folder is not: one
    // started with -f stack.yml, one whose .env names its file, one started with another folder as its
    // own. What its service takes from the folder: a folder inside it, bound, or an env_file.
    void otherFileNames()
    {
        const QString o = otherFolder();
        const int form = int(draw(3));
        // Relative paths in the file are taken from the project's folder.
        const QString dir = form == 2 ? o + "-run" : o;
        const QString by = "project " + QFileInfo(o).fileName();
        QString uses;
        Probe probe;
        QString used;
        if (coin()) {
            file(m_layout.targetReal + "/media/cover.png", "not really a picture\n");
            const QString media = written(dir, reach("/media"));
            uses = QString("    volumes: [\"%1:/media\"]\n").arg(media);
            name(dir, media, "a folder its service binds", true, by);
            probe = reads("app", "/media/cover.png", "not really a picture\n");
            used = "binding a folder inside";
        } else {
            file(m_layout.targetReal + "/conf/app.env", "MODE=remembered\n");
            const QString env = written(dir, reach("/conf/app.env"));
            uses = QString("    env_file: %1\n").arg(env);
            name(dir, env, "a service's env_file", false, by);
            probe = echoes("app", "MODE", "remembered");
            used = "reading a service's env_file inside";
        }
        const QString compose = "services:\n  app:\n" + service(uses);
        QString fileName = "compose.yaml";
        QStringList options;
        if (form == 0) {
            fileName = "stack.yml";
            options = {"-f", "stack.yml"};
            say("another project, down, started with -f stack.yml, " + used, "-f stack.yml");
        } else if (form == 1) {
            fileName = "app.yml";
            file(o + "/.env", "COMPOSE_FILE=app.yml\n");
            say("another project, down, whose .env names its compose file, " + used, "COMPOSE_FILE");
        } else {
            folder(dir);
            options = {"--project-directory", dir, "-f", o + "/compose.yaml"};
            say("another project, down, started with another folder as its own, " + used,
                "--project-directory elsewhere");
        }
        file(o + '/' + fileName, compose);
        Step& step = addProject(o, options, {}, true);
        // Started from its folder, as a user does.
        if (form != 2)
            step.cwd = o;
        step.probes << probe;
        remembered(step, dir, {o + '/' + fileName});
    }

    // `ln -s <folder>/data lnk; docker run -v $PWD/lnk:/d ...; ln -sfn elsewhere lnk`: the engine still
    // names the link, the kernel holds what it led to.
    void movedLink()
    {
        const QString lnk = m_world + "/links/data";
        const bool whole = coin();
        link(lnk, reach(whole ? QString() : QStringLiteral("/data")));
        const QString name = TestSupport::uniqueName("linked");
        const QStringList options =
            coin() ? QStringList{"-v", lnk + ":/d"}
                   : QStringList{"--mount", QStringLiteral("type=bind,source=%1,target=/d").arg(lnk)};
        m_layout.steps << Step{Step::Kind::Container, {}, {}, name, options, {}, true};
        const QString elsewhere = m_world + "/elsewhere/data";
        file(elsewhere + "/other.txt", "elsewhere\n");
        m_layout.steps << Step{Step::Kind::Relink, lnk, coin() ? elsewhere : QString("../elsewhere/data")};
        say(whole ? "an outside container bound it through a link that leads elsewhere now"
                  : "an outside container bound a folder inside through a link that leads elsewhere now",
            "link moved after start");
    }

    // A profile that allows every call: the service only needs it to be there to start.
    void seccomp()
    {
        file(m_layout.targetReal + "/profile.json", "{\"defaultAction\": \"SCMP_ACT_ALLOW\"}\n");
        const QString o = otherFolder();
        // Compose reads the profile from where it was started, not from the project's folder: absolute.
        const QString profile = reach("/profile.json");
        file(o + "/compose.yaml",
             "services:\n  app:\n" + service(QString("    security_opt: [\"seccomp=%1\"]\n").arg(profile)));
        m_layout.named << Named{profile, "project " + QFileInfo(o).fileName(),
                                "its service's seccomp profile"};
        project(o, {"--project-directory", o}).probes
            << Probe{"app", "grep '^Seccomp:' /proc/self/status", "Seccomp:\t2\n"};
        say("another project taking its seccomp profile from a file inside", "seccomp");
    }

    // The project declares a volume; another project, run once and taken down, takes it as external
    // and keeps what it wrote there.
    void externalVolume()
    {
        m_sharedVolume = true;
        // Its volume must be there before the other project takes it.
        startTarget();
        const QString o = otherFolder();
        file(o + "/compose.yaml",
             QString("services:\n  app:\n    image: %1\n    stop_signal: SIGKILL\n    network_mode: none\n"
                     "    command: [\"sh\", \"-c\", \"[ -f /s/o.txt ] || cat /proc/sys/kernel/random/uuid > "
                     "/s/o.txt; exec sleep 600\"]\n    volumes: [\"shared:/s\"]\n"
                     "volumes:\n  shared:\n    external: true\n    name: %2_shared\n")
                 .arg(TestSupport::testImage(), m_layout.target));
        Step& step = addProject(o, {"--project-directory", o, "-f", o + "/compose.yaml"}, {}, true);
        // What it wrote there once, read back: a volume made anew under the name holds another.
        step.probes << Probe{"app", "cat /s/o.txt"};
        remembered(step, o, {o + "/compose.yaml"});
        say("another project, down, keeping its data in the project's volume as external", "external volume");
    }
};

} // namespace Layouts::detail
