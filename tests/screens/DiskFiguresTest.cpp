#include "screens/ProjectsContent.h"

#include "ProjectsTesting.h"
#include "app/design/VitalCaption.h"
#include "app/design/VitalCard.h"
#include "platform/ByteCount.h"

#include <QAbstractButton>

#include <gtest/gtest.h>

using namespace ProjectsTesting;
using namespace std::chrono_literals;

namespace {

class DiskFigures : public ProjectsStore {};

// Every offer to free space the screen shows, by its text.
QStringList offers(const QWidget& screen)
{
    QStringList seen;
    for (const QAbstractButton* button : screen.findChildren<QAbstractButton*>())
        if (button->isVisibleTo(&screen) &&
            (button->objectName() == "reclaimButton" || button->objectName() == "freeButton"))
            seen << button->text();
    seen.sort();
    return seen;
}

} // namespace

// A measurement that ends at its limit after one that found something to free leaves none of the earlier
// figures standing: the Disk tile says "Not measured", as it does before any measurement, and nothing on
// the screen offers to free what the earlier one found. The next measurement that answers brings both back.
TEST_F(DiskFigures, AMeasurementEndedAtItsLimitLeavesNoEarlierFigureToFree)
{
    QTemporaryDir parent;
    const Container web = inFolder(container("shop-web", "exited", "shop"), projectFolder(parent, "shop"));
    listing(alpha, {web});
    Reclaimable stopped;
    stopped.ref = web.id;
    stopped.name = web.name;
    stopped.bytes = 230;
    stopped.project = "shop";
    stopped.runtime = alpha;
    DiskUsage measured;
    measured.total = 4'200'000;
    measured.candidates = {stopped};
    engine->setUsage(alpha, measured);
    AppStore& s = storeOn({entry(alpha, true, true)}, alpha);
    ProjectsContent content(s);
    run(s.refresh(false));
    run(s.loadUsage());
    settle();
    content.waitForFolders();
    auto* disk = content.findChild<VitalCard*>("diskVital");
    const QString free = Platform::fileSize(230);
    ASSERT_EQ(offers(content), (QStringList{"Free " + free + "\u2026", "Free up " + free + "\u2026"}));
    EXPECT_EQ(disk->value(), Platform::fileSize(4'200'000));

    engine->setUsage(alpha, std::nullopt); // the engine gave no figures in time
    clock.advance(1min);
    run(s.loadUsage());
    settle();
    EXPECT_EQ(offers(content), QStringList{});
    EXPECT_EQ(disk->value(), std::nullopt);
    EXPECT_EQ(content.findChild<VitalCaption*>("diskCaption")->plainText(), "Not measured");

    engine->setUsage(alpha, measured);
    run(s.loadUsage());
    settle();
    EXPECT_EQ(offers(content).size(), 2);
}
