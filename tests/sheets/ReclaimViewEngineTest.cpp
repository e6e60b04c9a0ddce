#include "sheets/ReclaimView.h"

#include "app/design/VoskLabel.h"
#include "app/parts/Alert.h"
#include "platform/ByteCount.h"
#include "sheets/EngineSheets.h"
#include "sheets/SheetHost.h"

#include <QLabel>

namespace {

using namespace SheetTesting;
using TestSupport::eventually;
using TestSupport::testImage;
using TestSupport::uniqueName;

// The engine is shared with other test runs: these tests tick only what they made, never a whole
// group.
class ReclaimOnEngine : public SheetsOnEngine {
protected:
    ReclaimView* open()
    {
        sheet = SheetHost::open(host.get(), new ReclaimView(*store, std::nullopt));
        // A full measurement of a busy engine takes a while.
        EXPECT_TRUE(eventually([&] { return sheet && sheet->measured(); }, 120000));
        return sheet;
    }

    // Ticks the rows by name and confirms the removal of what cannot come back.
    void removeTicked()
    {
        part(sheet, "removeButton")->click();
        Alert* alert = nullptr;
        ASSERT_TRUE(eventually([&] {
            const QList<Alert*> open = openDialogs<Alert>(sheet);
            return !open.isEmpty() && (alert = open.first());
        }));
        part(alert, "alertRemoveButton")->click();
    }

    QPointer<ReclaimView> sheet;
};

TEST_F(ReclaimOnEngine, ExactlyTheTickedItemsGoAndTheNoticeSaysWhatWasFreed)
{
    const QString stopped = uniqueName("stopped");
    const QString untouched = uniqueName("untouched");
    const QString volume = uniqueName("unused");
    containersMade << stopped << untouched;
    volumesMade << volume;
    make({"run", "--network", "none", "--name", stopped, testImage(), "sh", "-c",
          "head -c 8000000 /dev/zero > /blob"});
    make({"run", "--network", "none", "--name", untouched, testImage(), "true"});
    make({"volume", "create", volume});
    make({"run", "--rm", "--network", "none", "-v", volume + ":/data", testImage(), "sh", "-c",
          "head -c 8000000 /dev/zero > /data/blob"});
    store->setNotice(std::nullopt);

    open();
    ASSERT_NE(row(sheet, untouched), nullptr);
    ASSERT_NE(row(sheet, stopped), nullptr);
    // The volumes are weighed after the measurement: offered, or said to be held.
    const auto heldText = [&] {
        const auto* held = sheet ? sheet->findChild<VoskLabel*>("heldVolumesLabel") : nullptr;
        return held ? held->plainText() : QString();
    };
    EXPECT_TRUE(eventually([&] { return row(sheet, volume) || heldText().contains(volume); }, 60000));
    if (!row(sheet, volume)) {
        VOSKEL_SKIP_WHEN_STRANGERS_HOLD(TestSupport::strangerHolds(heldText().split(u'\n')));
    }
    ASSERT_NE(row(sheet, volume), nullptr);
    const qint64 bytes = row(sheet, stopped)->item().bytes + row(sheet, volume)->item().bytes;
    EXPECT_GE(bytes, 16'000'000);
    tick(sheet, stopped);
    tick(sheet, volume);
    EXPECT_EQ(part(sheet, "removeButton")->text(), "Remove 2 · " + Platform::fileSize(bytes));

    removeTicked();
    ASSERT_TRUE(eventually([&] { return !sheet; }, 120000));
    EXPECT_FALSE(exists({"container", "inspect", stopped}));
    EXPECT_FALSE(exists({"volume", "inspect", volume}));
    EXPECT_TRUE(exists({"container", "inspect", untouched}));
    ASSERT_TRUE(store->notice().has_value());
    EXPECT_TRUE(store->notice()->startsWith("Reclaimed ")) << store->notice()->toStdString();
    EXPECT_TRUE(store->notice()->endsWith(" MB.")) << store->notice()->toStdString();
}

TEST_F(ReclaimOnEngine, AContainerStartedSinceTheMeasurementKeepsRunningAndItsFailureShows)
{
    const QString container = uniqueName("restarted");
    containersMade << container;
    make({"create", "--network", "none", "--name", container, testImage(), "sleep", "600"});

    open();
    ASSERT_NE(row(sheet, container), nullptr);
    make({"start", container});
    tick(sheet, container);
    removeTicked();
    ASSERT_TRUE(eventually([&] { return !sheet || !sheet->failures().isEmpty(); }, 120000));
    ASSERT_FALSE(sheet.isNull()) << "the removal went through although the container runs";

    EXPECT_TRUE(sheet->isVisible());
    const QString shown = part<QLabel>(sheet, "failureLabel")->text();
    EXPECT_TRUE(shown.contains("running")) << shown.toStdString();
    EXPECT_EQ(part(sheet, "cancelButton")->text(), "Close");
    EXPECT_EQ(TestSupport::docker({"inspect", "--format", "{{.State.Running}}", container}).out.trimmed(),
              "true");
}

} // namespace
