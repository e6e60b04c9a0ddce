#pragma once

#include "engine/ComposeVariables.h"

#include <QString>
#include <QStringList>

#include <optional>

// An env file as compose reads it to fill in a project's files and to find its own settings
// (COMPOSE_FILE and its kin): the project's `.env` or the files given with --env-file, and an
// include's env_file. A service's env_file is another matter: only its container reads it.
namespace Docker {

struct EnvFileParse {
    Variables values;               // what the file sets, the last line of a key winning
    std::optional<QString> refusal; // why compose would refuse the file, "line <n>: ..."

    bool operator==(const EnvFileParse&) const = default;
};

// `text` read as compose does: blank lines and lines starting with "#" are skipped; a line may start
// with `export`; `KEY=value` or `KEY: value`, blanks around either; a lone `KEY` takes the value
// `before` has for it, if any. An unquoted value ends at the line's end or at " #", trailing blanks
// dropped; a single-quoted one is taken as it stands; a double-quoted one takes \n, \t, \\, \", \$
// and their kin; either quoted one may run over several lines, and only \ and its own quote are
// escaped in it. Unquoted and double-quoted values have their variables filled in, looked up in
// `before` (the shell's, then the files read before this one), then in this file's lines before.
EnvFileParse parseEnvFile(QStringView text, const VariableLookup& before);

struct EnvFilesRead {
    Variables values;               // all of them, a later file winning
    QStringList read;               // the files that were there and were read
    std::optional<QString> unknown; // why not every value could be known

    bool operator==(const EnvFilesRead&) const = default;
};

// The env files at `paths`, in order, each filled in from `before`, then from the files before it. A
// file that is not there sets nothing; one that cannot be read, or that compose would refuse, makes
// what they set unknown. Looks at the disk.
EnvFilesRead readEnvFiles(const QStringList& paths, const VariableLookup& before);

} // namespace Docker
