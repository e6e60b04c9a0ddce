#pragma once

#include "engine/ComposeVariables.h"

#include <QString>
#include <QStringList>

#include <optional>

// Which host paths one value of a compose model names, whatever field holds it.
namespace Docker {

// Where a path compose reads lies: "~" is the home folder, and a relative one lies in each of `bases`.
QStringList placedPath(QString path, const QStringList& bases);

// A volume's source (or any value) that is a host path rather than a name: it starts with "/", "."
// or "~".
bool isHostSource(const QString& source);

// What compose takes as a path wherever it stands: "/...", "./...", "../...", "~/..." and the folders
// ".", ".." and "~" themselves.
bool isPathLike(QStringView piece);

// Whether compose takes the values of the field `key`, wherever in the model it stands, as no path on
// this host.
bool isNoHostPathField(const QString& key);

// Whether the keys of the map under `key` are names the user chose (a build context's, a driver
// option's) rather than fields.
bool namesItsKeys(const QString& key);

struct ValuePaths {
    QStringList paths;
    std::optional<QString> unknown; // it may name a path through a variable that is not set here
    QStringList unset = {};         // the variables not set here that a path it names goes through

    bool operator==(const ValuePaths&) const = default;
};

// Each piece of `raw` between "=", "," and ":" that looks like a path once filled in from `env`
// ("seccomp=./profile.json", "type=local,src=/cache", "lowerdir=/a:/b"), and the path of a file or
// socket address ("unix:///run/x.sock"), placed among `bases`. A piece cut by a variable that is not
// known here is known up to the folder before it, and unknown when it has nothing before it; either way
// the variable is named among `unset`.
ValuePaths pathsInValue(const QString& raw, const Variables& env, const QStringList& bases);

} // namespace Docker
