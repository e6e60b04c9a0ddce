#include "settings/BuilderRow.h"

#include "app/design/VoskBadge.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Preferences.h"
#include "engine/Stats.h"
#include "platform/Settings.h"

#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QComboBox>
#include <QSignalSpy>

namespace {

constexpr qint64 gib = qint64(1) << 30;

// A machine of 8 processors and 16 GB, and the preferences on a settings object of their own.
class Builder : public testing::Test {
protected:
    void SetUp() override
    {
        TestSupport::prepareWidgets();
        Docker::setCoresForTesting(8);
        Docker::setPhysicalMemoryForTesting(quint64(16) * quint64(gib));
    }
    void TearDown() override
    {
        Docker::setCoresForTesting(std::nullopt);
        Docker::setPhysicalMemoryForTesting(std::nullopt);
    }

    static QStringList items(const QComboBox* box)
    {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i)
            texts << box->itemText(i);
        return texts;
    }

    static bool shown(const QWidget* widget) { return widget && !widget->isHidden(); }

    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    Preferences preferences{*settings};
};

} // namespace

TEST_F(Builder, StatesShowTheirBadgeButtonsAndPickers)
{
    const struct {
        const char* what;
        BuilderStatus builder;
        QString size; // empty: none shown
        QString badge;
        bool stop, del, start;
    } rows[] = {
        {"running", {true, true, 4, 4 * gib}, "4 CPUs · 4 GB", "running", true, false, false},
        {"running, one processor", {true, true, 1, std::nullopt}, "1 CPU", "running", true, false, false},
        {"stopped", {true, false, 4, 4 * gib}, "", "stopped", false, true, true},
        {"never started", {false, false, std::nullopt, std::nullopt}, "", "not started", false, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        BuilderRow card(row.builder, preferences);
        EXPECT_EQ(shown(card.findChild<VoskLabel*>("builderSizeLabel")), !row.size.isEmpty());
        if (!row.size.isEmpty()) {
            EXPECT_EQ(card.findChild<VoskLabel*>("builderSizeLabel")->plainText(), row.size);
        }
        EXPECT_EQ(card.findChild<VoskBadge*>("builderBadge")->text(), row.badge);
        EXPECT_EQ(shown(card.findChild<VoskButton*>("builderStopButton")), row.stop);
        EXPECT_EQ(shown(card.findChild<VoskButton*>("builderDeleteButton")), row.del);
        EXPECT_EQ(shown(card.findChild<VoskButton*>("builderStartButton")), row.start);
        // The sizes can be chosen only for a start.
        EXPECT_EQ(shown(card.findChild<QComboBox*>("builderCPUsPicker")->parentWidget()->parentWidget()),
                  row.start);
    }
    EXPECT_EQ(BuilderRow::usingText({true, true, std::nullopt, std::nullopt}), QString(""));
    EXPECT_EQ(BuilderRow::usingText({true, false, 2, gib}), std::nullopt);
}

TEST_F(Builder, PickersOfferTheMachinesSizesAndKeepAStoredOneOutsideThem)
{
    settings->setValue("builderMemoryGB", 64);
    QSignalSpy written(settings.get(), &Platform::Settings::changed);
    BuilderRow card({true, false, std::nullopt, std::nullopt}, preferences);
    QSignalSpy jobs(&card, &BuilderRow::jobRequested);
    auto* cpus = card.findChild<QComboBox*>("builderCPUsPicker");
    auto* memory = card.findChild<QComboBox*>("builderMemoryPicker");

    EXPECT_EQ(items(cpus), (QStringList{"Default", "2", "4", "6", "8"}));
    EXPECT_EQ(cpus->currentText(), "Default");
    // 64 GB was saved on a larger machine: shown, marked, chosen.
    EXPECT_EQ(items(memory), (QStringList{"Default", "2 GB", "4 GB", "8 GB", "16 GB", "64 GB (saved)"}));
    EXPECT_EQ(memory->currentText(), "64 GB (saved)");
    // Filling the pickers wrote nothing.
    EXPECT_EQ(written.count(), 0);

    card.findChild<VoskButton*>("builderStartButton")->click();
    ASSERT_EQ(jobs.count(), 1);
    EXPECT_EQ(jobs.takeFirst().at(0).value<ToolJob>().script(), "container builder start --memory 64G");

    // The user's choice is written, and the saved size is no longer offered.
    emit cpus->activated(2);
    emit memory->activated(3);
    EXPECT_EQ(preferences.builderCPUs(), 4);
    EXPECT_EQ(preferences.builderMemoryGB(), 8);
    EXPECT_EQ(items(memory), (QStringList{"Default", "2 GB", "4 GB", "8 GB", "16 GB"}));
    card.findChild<VoskButton*>("builderStartButton")->click();
    EXPECT_EQ(jobs.takeFirst().at(0).value<ToolJob>().script(),
              "container builder start --cpus 4 --memory 8G");

    emit cpus->activated(0);
    emit memory->activated(0);
    card.findChild<VoskButton*>("builderStartButton")->click();
    EXPECT_EQ(jobs.takeFirst().at(0).value<ToolJob>().script(), "container builder start");

    // A change made elsewhere shows without being written back.
    written.clear();
    settings->setValue("builderCPUs", 3);
    EXPECT_EQ(cpus->currentText(), "3 (saved)");
    EXPECT_EQ(written.count(), 1);
}
