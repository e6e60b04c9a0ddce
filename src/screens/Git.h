#pragma once

#include "platform/PreparedProcess.h"

#include <QString>
#include <QStringList>

#include <optional>

// What cloning a repository takes of git: the folder a clone lands in, the command line and the
// prepared process. No state; callable from any thread.
namespace Git {

// The folder name git would give a clone of `url`: the last piece of the address, without a trailing
// "/" and one ".git". None for an address it cannot come from: empty, a bare word (neither "/" nor
// ":"), or one ending in "." or "..".
std::optional<QString> folderName(const QString& url);

// git clone -- <address> <destination>. The address (without the blanks and tabs around it) follows
// "--", so one beginning with "-" reaches git as an address and never as an option.
QStringList cloneArgs(const QString& url, const QString& destination);

// The clone as a child, not started: the tool environment, git told never to ask for credentials
// (standard input is the null device anyway) and limited to the ordinary transports, so an address
// such as "ext::sh -c ..." cannot run a command whatever the user's git configuration allows.
Platform::PreparedProcess cloneProcess(const QString& url, const QString& destination);

// The transports a clone may use.
inline constexpr auto allowedProtocols = "https:http:ssh:git:file";

// The first control character in `text` (a line break, a tab, an escape...), if any. Addresses and
// folder names holding one are refused before they reach git.
std::optional<QChar> controlCharacter(const QString& text);

} // namespace Git
