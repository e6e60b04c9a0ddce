#pragma once

#include "toolchain/LoginItem.h"

#include <QString>

#include <optional>

class QTextStream;

namespace Diagnostics {

// What the tools dump reads from the host besides the tools themselves.
struct ToolsHost {
    std::optional<QString> brewPath;
    LoginItem::State loginItem = LoginItem::State::Off;
    QString bundlePath; // the program the login item starts

    // Homebrew's usual places, the user's autostart folder and this process's program.
    static ToolsHost current();
};

// The facts behind the Settings window's runtime tools: Homebrew, each tool's installed and latest
// version with its update state, Apple's container services and the login item; with `withScripts`
// also the install, start and restart scripts the Settings window runs. Blocks while tools answer.
void runToolsDump(QTextStream& out, bool withScripts);
void runToolsDump(QTextStream& out, bool withScripts, const ToolsHost& host);

} // namespace Diagnostics
