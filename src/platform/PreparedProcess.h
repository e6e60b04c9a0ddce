#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

namespace Platform {

// A child process as the tool factories prepare it, not yet started. Runners start it; the value
// itself can be compared and inspected in tests. Every runner starts the child in a process group of
// its own, so that ending it also ends what it started (the compose plugin a docker call runs).
struct PreparedProcess {
    QString program;
    QStringList arguments;
    QProcessEnvironment environment{QProcessEnvironment::InheritFromParent};
    std::optional<QString> workingDirectory;

    bool operator==(const PreparedProcess&) const = default;
};

// What a command printed and how it ended. `status` is the exit status, -1 when the child could
// not be started (`err` then holds the reason) and 128 + the signal number when a signal ended it.
struct Capture {
    int status = 0;
    QString out;
    QString err;

    bool operator==(const Capture&) const = default;
};

// Decodes UTF-8 strictly: any invalid sequence gives the empty text for the whole input.
QString decodeUtf8Strict(const QByteArray& bytes);

// Where Homebrew keeps its programs, in the order they are searched: Apple silicon, Intel, then its
// Linux location.
QStringList homebrewBinDirectories();

// The search path handed to a child: `prefixDirs`, then the inherited value. An empty inherited value
// adds nothing, so the result never ends in ":" (an empty element would mean the working directory).
QString childSearchPath(const QStringList& prefixDirs, const QString& inherited);

// Test seam: a directory searched before every other one, so fake tools can shadow real ones.
// Empty turns it off. Process-wide; set it before starting children.
void setTestSearchPrefix(const QString& dir);
QString testSearchPrefix();

} // namespace Platform
