#include "settings/RuntimeToolsSection.h"

#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "settings/ToolRow.h"

#include "SettingsFixture.h"

#include <QComboBox>
#include <QSignalSpy>

using SettingsTest::shown;
using SettingsTest::tool;

namespace {

class Section : public SettingsTest::Fixture {
protected:
    std::unique_ptr<RuntimeToolsSection> make(ToolchainStore& toolchain)
    {
        return std::make_unique<RuntimeToolsSection>(toolchain, preferences, socket());
    }

    template <typename W = QWidget>
    static W* child(const RuntimeToolsSection& section, const char* name)
    {
        return section.findChild<W*>(name);
    }
};

} // namespace

TEST_F(Section, WhatShowsForTheToolsAndServices)
{
    const Tool container = tool("container", "0.5.0", "0.5.0");
    const Tool missingContainer = tool("container", std::nullopt);
    const struct {
        const char* what;
        bool brew;
        QList<Tool> tools;
        SystemStatus status;
        bool builderExists;
        bool start, logs, builder, notice, noBrew;
    } rows[] = {
        {"running, versions equal",
         true,
         {container},
         {true, "0.5.0", "0.5.0"},
         true,
         false,
         true,
         true,
         false,
         false},
        {"running, server behind",
         true,
         {container},
         {true, "0.5.0", "0.4.1"},
         true,
         false,
         true,
         true,
         true,
         false},
        // A newer server counts too: the two should match.
        {"running, server ahead",
         true,
         {container},
         {true, "0.4.1", "0.5.0"},
         false,
         false,
         true,
         true,
         true,
         false},
        {"running, server unknown",
         true,
         {container},
         {true, "0.5.0", std::nullopt},
         false,
         false,
         true,
         true,
         false,
         false},
        // A builder that exists is still hidden while the services are stopped.
        {"stopped, versions differ",
         true,
         {container},
         {false, "0.5.0", "0.4.1"},
         true,
         true,
         true,
         false,
         false,
         false},
        {"no container tool",
         true,
         {missingContainer},
         {false, std::nullopt, std::nullopt},
         false,
         false,
         false,
         false,
         false,
         false},
        {"no Homebrew",
         false,
         {},
         {false, std::nullopt, std::nullopt},
         false,
         false,
         false,
         false,
         false,
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const auto toolchain = makeToolchain(row.brew);
        toolchain->setTools(row.tools);
        toolchain->setStatus(row.status);
        toolchain->setBuilder({row.builderExists, false, std::nullopt, std::nullopt});
        const auto section = make(*toolchain);
        EXPECT_EQ(shown(child(*section, "servicesStartButton")), row.start);
        EXPECT_EQ(shown(child(*section, "servicesLogsButton")), row.logs);
        EXPECT_EQ(section->builderRow() != nullptr, row.builder);
        EXPECT_EQ(shown(child(*section, "restartNotice")), row.notice);
        EXPECT_EQ(shown(child(*section, "noHomebrewLabel")), row.noBrew);
        // Without Homebrew nothing can be checked, even while no check runs.
        EXPECT_EQ(child<VoskButton>(*section, "checkButton")->isEnabled(), row.brew);
        EXPECT_EQ(section->toolRows().size(), row.tools.size());
        EXPECT_EQ(section->engineRow(), nullptr);
    }
    EXPECT_EQ(RuntimeToolsSection::restartNotice({true, "0.5.0", "0.4.1"}),
              "Client is 0.5.0, the running server is still 0.4.1. Restarting stops running containers.");
}

TEST_F(Section, StatusLine)
{
    EXPECT_EQ(RuntimeToolsSection::statusLine({false, std::nullopt, std::nullopt}, std::nullopt),
              "SERVICES STOPPED · NOT CHECKED");
    const QDateTime at = QDateTime(QDate(2026, 3, 1), QTime(14, 5), Qt::LocalTime);
    const QString line = RuntimeToolsSection::statusLine({true, "0.5.0", "0.5.0"}, at.toUTC());
    EXPECT_TRUE(line.startsWith("SERVICES RUNNING · SERVER 0.5.0 · CHECKED ")) << line.toStdString();
    // Only the time of day, in the user's own way of writing it.
    EXPECT_TRUE(line.contains("05")) << line.toStdString();
    EXPECT_FALSE(line.contains("2026")) << line.toStdString();
    EXPECT_FALSE(line.contains("05:00")) << line.toStdString();
}

TEST_F(Section, RowsAreKeptByFormulaAndRedrawOncePerTurn)
{
    const auto toolchain = makeToolchain(true);
    toolchain->setTools({tool("docker", "28.0.0", "28.1.0")});
    const auto section = make(*toolchain);
    ASSERT_EQ(section->toolRows().size(), 1);
    ToolRow* docker = section->toolRows().first();
    const int before = section->redraws();

    toolchain->setTools(
        {tool("container", "0.5.0"), tool("docker", "28.1.0", "28.1.0"), tool("colima", "0.8.1")});
    toolchain->setStatus({true, "0.5.0", "0.5.0"});
    toolchain->setBuilder({true, true, 2, qint64(2) << 30});
    toolchain->setEngine({true, 2, qint64(2) << 30});
    toolchain->setLastChecked(QDateTime::currentDateTimeUtc());
    EXPECT_EQ(section->redraws(), before);
    QCoreApplication::processEvents();
    EXPECT_EQ(section->redraws(), before + 1);

    // The docker row is the same widget, now in the middle, with a rule above; the first has none.
    const QList<ToolRow*> rows = section->toolRows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows.at(1), docker);
    EXPECT_EQ(docker->findChild<VoskButton*>("toolActionButton")->text(), "Homepage");
    ASSERT_TRUE(section->builderRow());
    ASSERT_TRUE(section->engineRow());

    // A store that changes nothing redraws nothing.
    toolchain->setStatus({true, "0.5.0", "0.5.0"});
    QCoreApplication::processEvents();
    EXPECT_EQ(section->redraws(), before + 1);
}

TEST_F(Section, ANewEngineCardStartsAtItsCurrentSize)
{
    const auto toolchain = makeToolchain(true);
    toolchain->setTools({tool("colima", "0.8.1")});
    toolchain->setEngine({true, 2, qint64(2) << 30});
    const auto section = make(*toolchain);
    QSignalSpy jobs(section.get(), &RuntimeToolsSection::jobRequested);
    EngineRow* first = section->engineRow();
    ASSERT_TRUE(first);
    auto* cpus = first->findChild<QComboBox*>("engineCPUsPicker");
    emit cpus->activated(cpus->count() - 1);
    first->findChild<VoskButton*>("engineApplyButton")->click();
    ASSERT_EQ(jobs.count(), 1);
    EXPECT_EQ(jobs.takeFirst().at(0).value<ToolJob>().kind, ToolJob::Kind::engineRestart);

    // Colima removed and installed again: a fresh card, sizes as they are.
    toolchain->setTools({tool("colima", std::nullopt)});
    QCoreApplication::processEvents();
    EXPECT_EQ(section->engineRow(), nullptr);
    toolchain->setTools({tool("colima", "0.8.1")});
    QCoreApplication::processEvents();
    ASSERT_TRUE(section->engineRow());
    section->engineRow()->findChild<VoskButton*>("engineStopButton")->click();
    EXPECT_EQ(section->engineRow()->findChild<QComboBox*>("engineCPUsPicker")->currentText(), "As it is");
    EXPECT_EQ(jobs.takeFirst().at(0).value<ToolJob>(), ToolJob::engineStop());
}
