#include "settings/ToolRow.h"

#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"

#include "support/RecordingHost.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QSignalSpy>

namespace {

using Action = ToolRow::Action;
using Variant = VoskButtonStyle::Variant;

Tool tool(std::optional<QString> installed, std::optional<QString> latest, bool brewManaged = true,
          bool optional = false)
{
    Tool t = Toolchain::all().first();
    t.installed = installed;
    t.latest = latest;
    t.brewManaged = brewManaged;
    t.isOptional = optional;
    return t;
}

} // namespace

TEST(ToolRow, VersionBadgeAndActionFollowTheVersions)
{
    const struct {
        const char* what;
        Tool tool;
        bool brew;
        QString version;
        QString badge;
        const Token* ink;
        Action action;
        Variant variant;
        bool enabled;
    } rows[] = {
        // Numeric order: 1.10 is newer than 1.5.
        {"older, Homebrew's", tool("1.5.0", "1.10.0"), true, "1.5.0 → 1.10.0", "update", &Vosk::badgeInk,
         Action::update, Variant::accent, true},
        {"older, installed elsewhere", tool("1.5.0", "1.10.0", false), true, "1.5.0 → 1.10.0", "update",
         &Vosk::badgeInk, Action::releaseNotes, Variant::quiet, true},
        {"up to date", tool("1.10.0", "1.10.0"), true, "1.10.0", "up to date", &Vosk::success,
         Action::homepage, Variant::ghost, true},
        {"newer than offered", tool("2.0", "1.10.0"), true, "2.0", "up to date", &Vosk::success,
         Action::homepage, Variant::ghost, true},
        {"never checked", tool("1.5.0", std::nullopt), true, "1.5.0", "not checked", &Vosk::pillInk,
         Action::homepage, Variant::ghost, true},
        {"missing, required", tool(std::nullopt, "1.10.0"), true, Vosk::absent(), "not installed",
         &Vosk::errInk, Action::install, Variant::accent, true},
        {"missing, optional", tool(std::nullopt, std::nullopt, true, true), true, Vosk::absent(),
         "not installed", &Vosk::pillInk, Action::install, Variant::quiet, true},
        // Without Homebrew nothing can be installed, but the button still says what it would do.
        {"missing, no Homebrew", tool(std::nullopt, std::nullopt), false, Vosk::absent(), "not installed",
         &Vosk::errInk, Action::install, Variant::accent, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const ToolRow::Look look = ToolRow::lookOf(row.tool, row.brew);
        EXPECT_EQ(look.version, row.version);
        EXPECT_EQ(look.older, row.action == Action::update || row.action == Action::releaseNotes);
        EXPECT_EQ(look.badge, row.badge);
        EXPECT_EQ(look.badgeInk, row.ink);
        EXPECT_EQ(look.action, row.action);
        EXPECT_EQ(look.variant, row.variant);
        EXPECT_EQ(look.enabled, row.enabled);
    }
    // The install help depends only on whether the tool is optional.
    EXPECT_EQ(ToolRow::lookOf(tool(std::nullopt, std::nullopt), false).help,
              "Installs with Homebrew, fetches the kernel and starts the services");
    EXPECT_TRUE(
        ToolRow::lookOf(tool(std::nullopt, std::nullopt, true, true), true).help.contains("VM image"));
}

TEST(ToolRow, ButtonsAskForJobsOrOpenOnlyCompleteAddresses)
{
    TestSupport::prepareWidgets();
    TestSupport::RecordingHost host;
    ToolRow row(tool("1.5.0", "1.10.0"), true);
    QSignalSpy jobs(&row, &ToolRow::jobRequested);
    auto* button = row.findChild<VoskButton*>("toolActionButton");
    ASSERT_TRUE(button);
    EXPECT_EQ(row.findChild<VoskLabel*>("versionLabel")->textStyle().weight, 500);

    button->click();
    ASSERT_EQ(jobs.count(), 1);
    EXPECT_EQ(jobs.at(0).at(0).value<ToolJob>(), ToolJob::upgrade({row.tool().formula}));

    // The same row after an update: now its page.
    row.setTool(tool("1.10.0", "1.10.0"), true);
    EXPECT_EQ(button->text(), "Homepage");
    EXPECT_EQ(row.findChild<VoskLabel*>("versionLabel")->textStyle().weight, 400);
    button->click();
    EXPECT_EQ(jobs.count(), 1);
    ASSERT_EQ(host.opened.size(), 1);
    EXPECT_EQ(host.opened.first(), QUrl(row.tool().homepage));

    for (const QString& page : {QString("not a page"), QString(""), QString("github.com/x")}) {
        Tool broken = row.tool();
        broken.homepage = page;
        row.setTool(broken, true);
        button->click();
    }
    EXPECT_EQ(host.opened.size(), 1);

    row.setTool(tool(std::nullopt, std::nullopt), false);
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(button->text(), "Install");
}
