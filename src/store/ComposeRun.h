#pragma once

#include <QString>
#include <QStringList>

// How compose brings a project up: `docker <args>` in `dir`, reading `files` (none: the folder's own)
// and `envFiles` (none: the folder's .env).
struct ComposeRun {
    QStringList args;
    QString dir;
    QStringList files;
    QStringList envFiles = {};

    bool operator==(const ComposeRun&) const = default;
};

// `docker compose -p <project> [--project-directory <dir> -f <file>... --env-file <file>...] <command>`,
// with `-d` after up.
QStringList composeCommand(const QString& project, const QString& command, const QStringList& files = {},
                           const QString& dir = {}, const QStringList& envFiles = {});
