#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// One long-running action on the runtime tools that the Settings window runs for the user: installing
// or updating a tool, starting or restarting Apple's services, starting, stopping or deleting the image
// builder, starting, restarting or stopping Colima's engine. The value only says what its sheet is
// called, the line it opens with and the shell script it runs; it runs nothing itself.
struct ToolJob {
    enum class Kind {
        upgrade,
        install,
        start,
        restart,
        builderStart,
        builderStop,
        builderDelete,
        engineStart,
        engineRestart,
        engineStop,
    };

    Kind kind = Kind::start;
    QStringList formulae;        // upgrade and install
    std::optional<int> cpus;     // builder and engine starts; none keeps the tool's own size
    std::optional<int> memoryGB; // likewise, in gigabytes

    static ToolJob upgrade(const QStringList& formulae) { return {Kind::upgrade, formulae, {}, {}}; }
    static ToolJob install(const QStringList& formulae) { return {Kind::install, formulae, {}, {}}; }
    static ToolJob start() { return {Kind::start, {}, {}, {}}; }
    static ToolJob restart() { return {Kind::restart, {}, {}, {}}; }
    static ToolJob builderStart(std::optional<int> cpus, std::optional<int> memoryGB)
    {
        return {Kind::builderStart, {}, cpus, memoryGB};
    }
    static ToolJob builderStop() { return {Kind::builderStop, {}, {}, {}}; }
    static ToolJob builderDelete() { return {Kind::builderDelete, {}, {}, {}}; }
    static ToolJob engineStart(std::optional<int> cpus, std::optional<int> memoryGB)
    {
        return {Kind::engineStart, {}, cpus, memoryGB};
    }
    static ToolJob engineRestart(std::optional<int> cpus, std::optional<int> memoryGB)
    {
        return {Kind::engineRestart, {}, cpus, memoryGB};
    }
    static ToolJob engineStop() { return {Kind::engineStop, {}, {}, {}}; }

    // The heading of the job's sheet: "Updating docker", "Starting the image builder".
    QString title() const;
    // The text handed to `/bin/sh -c`. Formulae go through the scripts' name check, so anything that
    // is not a formula name gives a script that refuses and fails.
    QString script() const;
    // The sheet's first line: a one-line script as "$ " and the script, a longer one as it is.
    QString banner() const;
    // Tells two sheets apart: the formulae for installs and updates, the script for the sized jobs.
    QString id() const;

    bool operator==(const ToolJob&) const = default;
};

size_t qHash(const ToolJob& job, size_t seed = 0) noexcept;
