#include "settings/EngineRow.h"

#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "engine/Stats.h"
#include "platform/ProcessRunner.h"

#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

using DefaultSocket::State;
using TestSupport::eventually;

namespace {

constexpr qint64 gib = qint64(1) << 30;

bool shown(const QWidget* widget)
{
    return widget && !widget->isHidden();
}

// The default socket and its boot entry inside a temporary folder, with an administrator that runs
// the command as the user; nothing here touches the machine's own socket.
class Engine : public testing::Test {
protected:
    void SetUp() override
    {
        TestSupport::prepareWidgets();
        Docker::setCoresForTesting(8);
        Docker::setPhysicalMemoryForTesting(quint64(16) * quint64(gib));
        for (const char* folder : {"run", "etc", "home/.colima/default", "tmp"})
            QDir(dir.path()).mkpath(folder);
    }
    void TearDown() override
    {
        Docker::setCoresForTesting(std::nullopt);
        Docker::setPhysicalMemoryForTesting(std::nullopt);
    }

    SocketAccess access(DefaultSocket::Administrator administrator)
    {
        return {paths, [this, administrator](const QString& command) {
                    commands << command;
                    return administrator(command);
                }};
    }
    static std::optional<QString> asUser(const QString& command)
    {
        const auto run = TestSupport::shell(command);
        const Platform::Capture done = Platform::capture(run);
        return done.status == 0 ? std::nullopt : std::optional<QString>(done.err.trimmed());
    }

    QTemporaryDir dir;
    DefaultSocket::Paths paths{dir.filePath("run/docker.sock"), dir.filePath("etc/voskel.conf"),
                               dir.filePath("home/.colima/default/docker.sock"), dir.filePath("tmp")};
    QStringList commands;
};

} // namespace

TEST_F(Engine, SizesAndTheRestartButton)
{
    EngineRow running({true, 4, 8 * gib}, access(asUser));
    QSignalSpy jobs(&running, &EngineRow::jobRequested);
    auto* cpus = running.findChild<QComboBox*>("engineCPUsPicker");
    auto* memory = running.findChild<QComboBox*>("engineMemoryPicker");
    auto* apply = running.findChild<VoskButton*>("engineApplyButton");
    EXPECT_EQ(cpus->currentText(), "As it is");
    const auto choose = [](QComboBox* box, const QString& text) { emit box->activated(box->findText(text)); };

    choose(cpus, "4");
    EXPECT_FALSE(shown(apply));
    choose(cpus, "6");
    EXPECT_TRUE(shown(apply));
    choose(cpus, "As it is");
    choose(memory, "8 GB"); // exactly what it has
    EXPECT_FALSE(shown(apply));
    choose(memory, "16 GB");
    EXPECT_TRUE(shown(apply));
    apply->click();
    running.findChild<VoskButton*>("engineStopButton")->click();
    ASSERT_EQ(jobs.count(), 2);
    EXPECT_EQ(jobs.at(0).at(0).value<ToolJob>(), ToolJob::engineRestart(std::nullopt, 16));
    EXPECT_EQ(jobs.at(1).at(0).value<ToolJob>(), ToolJob::engineStop());

    // Unknown sizes count as different.
    EXPECT_TRUE(EngineRow::changed({true, std::nullopt, std::nullopt}, 2, 0));
    EXPECT_TRUE(EngineRow::changed({true, 2, std::nullopt}, 0, 2));
    EXPECT_FALSE(EngineRow::changed({true, std::nullopt, std::nullopt}, 0, 0));
    EXPECT_EQ(EngineRow::hasText({false, 2, 2 * gib}), "2 CPUs · 2 GB");
}

TEST_F(Engine, TheDefaultSocketCanBePointedHereKeptAndGivenUp)
{
    EngineRow row({true, 2, 2 * gib}, access(asUser));
    QSignalSpy contexts(&row, &EngineRow::contextsChanged);
    auto* use = row.findChild<VoskButton*>("useAsDefaultButton");
    auto* keep = row.findChild<VoskButton*>("keepAfterRestartButton");
    auto* stop = row.findChild<VoskButton*>("stopUsingButton");
    EXPECT_EQ(row.socket(), State::free());
    EXPECT_TRUE(row.findChild<VoskLabel*>("socketSentence")->plainText().contains("leads nowhere"));
    EXPECT_TRUE(shown(use));
    EXPECT_FALSE(shown(keep) || shown(stop));

    use->click();
    EXPECT_TRUE(row.socketBusy());
    EXPECT_FALSE(use->isEnabled());
    ASSERT_TRUE(eventually([&] { return !row.socketBusy(); }));
    EXPECT_EQ(row.socket(), State::colima(true));
    EXPECT_EQ(QFile::symLinkTarget(paths.socket), paths.colimaSocket);
    EXPECT_EQ(row.socketProblem(), std::nullopt);
    EXPECT_EQ(contexts.count(), 1);
    EXPECT_FALSE(shown(use) || shown(keep));
    EXPECT_TRUE(shown(stop));

    // Someone removed the boot entry: the link now lasts until the next restart.
    QFile::remove(paths.permanentEntry);
    row.hide();
    row.show();
    EXPECT_EQ(row.socket(), State::colima(false));
    EXPECT_TRUE(shown(keep) && shown(stop));

    stop->click();
    ASSERT_TRUE(eventually([&] { return !row.socketBusy(); }));
    EXPECT_EQ(row.socket(), State::free());
    EXPECT_FALSE(QFileInfo::exists(paths.socket));
    EXPECT_TRUE(shown(use));
    EXPECT_EQ(contexts.count(), 2);
    EXPECT_EQ(commands.size(), 2);
}

TEST_F(Engine, ACancelledPromptIsNoProblemAndAFailureShowsItsText)
{
    std::optional<QString> answer;
    EngineRow row({false, std::nullopt, std::nullopt},
                  access([&answer](const QString&) { return answer; })); // changes nothing
    auto* problem = row.findChild<VoskLabel*>("socketProblemLabel");

    answer = "Error executing command as another user: Not authorized";
    row.findChild<VoskButton*>("useAsDefaultButton")->click();
    ASSERT_TRUE(eventually([&] { return !row.socketBusy(); }));
    EXPECT_EQ(row.socketProblem(), answer);
    EXPECT_TRUE(shown(problem));
    EXPECT_EQ(problem->plainText(), *answer);

    // The prompt dismissed: the earlier problem goes, the socket is read again.
    answer.reset();
    row.findChild<VoskButton*>("useAsDefaultButton")->click();
    ASSERT_TRUE(eventually([&] { return !row.socketBusy(); }));
    EXPECT_FALSE(shown(problem));
    EXPECT_EQ(row.socket(), State::free());
}
