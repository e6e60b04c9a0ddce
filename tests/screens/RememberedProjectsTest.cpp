#include "screens/CardWindow.h"
#include "screens/FolderChecks.h"
#include "screens/ProjectCard.h"
#include "screens/ProjectsContent.h"
#include "screens/ProjectsView.h"

#include "ProjectsTesting.h"
#include "support/TestSupport.h"

#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <memory>

#include <gtest/gtest.h>

using namespace ProjectsTesting;

namespace {

// The projects screen with hundreds of remembered projects.
class RememberedProjects : public ProjectsStore {};

// How tall `rows` rows of `height` are with `spacing` between them.
int rowsTall(int rows, int height, int spacing)
{
    return rows > 0 ? rows * height + (rows - 1) * spacing : 0;
}

} // namespace

// The cards made are the rows near the part on screen, at least the fewest asked for, and the room
// before and after them is what the rows not made would take: the grid is as long as with every card.
TEST(CardWindow, MakesTheRowsNearWhatIsShownAndKeepsTheGridsLength)
{
    const struct {
        const char* what;
        int total, columns, shownTop, shownBottom, least;
        int first, count;
    } rows[] = {
        {"a short list, all of it", 10, 3, 0, 600, 36, 0, 10},
        {"at the top: a screen's worth more below", 500, 2, 0, 600, 0, 0, 12},
        {"in the middle: a screen's worth either side", 500, 2, 21400, 22000, 0, 194, 18},
        {"at the end", 500, 2, 52886, 53486, 0, 488, 12},
        {"the fewest, from the top", 500, 3, 0, 100, 36, 0, 36},
        {"the fewest, at the end", 500, 3, 35700, 35800, 36, 465, 35},
        {"nothing shown at all", 500, 2, 0, 0, 0, 0, 0},
    };
    constexpr int height = 200;
    constexpr int spacing = 14;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const CardWindow window =
            CardWindow::of(row.total, row.columns, height, spacing, row.shownTop, row.shownBottom, row.least);
        EXPECT_EQ(window.first, row.first);
        EXPECT_EQ(window.count, row.count);
        EXPECT_EQ(window.first % row.columns, 0) << "whole rows";
        const int allRows = (row.total + row.columns - 1) / row.columns;
        const int madeRows = (window.count + row.columns - 1) / row.columns;
        const int made = rowsTall(madeRows, height, spacing);
        EXPECT_EQ(window.above + made + window.below + (madeRows > 0 ? 0 : -spacing),
                  rowsTall(allRows, height, spacing));
    }
    EXPECT_EQ(CardWindow::of(0, 3, height, spacing, 0, 600, 36), CardWindow());
}

// Five hundred remembered projects, half with a folder: the screen makes a screenful of cards or so, not
// five hundred, shows the last project once scrolled to the end, and its rounds of looks at the folders
// look at the folders of the cards made.
TEST_F(RememberedProjects, HundredsMakeAScreenfulOfCardsAndLooks)
{
    QTemporaryDir parent;
    ProjectRegistry registry;
    QList<KnownProject>& known = registry.byRuntime["alpha"];
    for (int i = 0; i < 500; ++i) {
        const QString name = QStringLiteral("kept%1").arg(i, 3, 10, QLatin1Char('0'));
        known << KnownProject{
            name, i % 2 == 0 ? projectFolder(parent, name) : parent.filePath(name), {"app"}};
    }
    const auto looked = std::make_shared<std::atomic<int>>(0);
    FolderChecks::setCheckForTesting([looked](const QString& dir) {
        ++*looked;
        return folderAt(dir);
    });
    const auto restore = qScopeGuard([] { FolderChecks::setCheckForTesting({}); });
    AppStore& s = showing();
    s.setRegistry(registry);

    ProjectsView view(s);
    view.resize(1080, 700);
    view.show();
    ProjectsContent* content = view.content();
    content->waitForFolders();
    settle();
    EXPECT_GE(*looked, 500) << "every folder is looked at when first listed";
    // The cards in the grid (those let go may wait a turn to be deleted).
    const auto cards = [&] {
        settle();
        const QList<ProjectCard*> all = view.findChildren<ProjectCard*>();
        return std::count_if(all.cbegin(), all.cend(),
                             [](const ProjectCard* card) { return !card->isHidden(); });
    };
    EXPECT_GE(cards(), 6);
    EXPECT_LE(cards(), 60);
    ASSERT_NE(content->card("alpha/kept000"), nullptr);
    EXPECT_FALSE(content->card("alpha/kept000")->visibleRegion().isEmpty());

    QScrollBar* scroll = view.findChild<QScrollArea*>("projectsScroll")->verticalScrollBar();
    for (int step = 0; step < 3; ++step) { // as the room above and below settles to the cards' height
        scroll->setValue(scroll->maximum());
        settle();
    }
    ProjectCard* last = content->card("alpha/kept499");
    ASSERT_NE(last, nullptr) << "scrolled to the end, the last project has no card";
    EXPECT_FALSE(last->visibleRegion().isEmpty()) << "the last card is not where the grid ends";
    EXPECT_EQ(content->card("alpha/kept000"), nullptr);
    EXPECT_LE(cards(), 60);

    *looked = 0;
    content->checkFolders();
    content->waitForFolders();
    EXPECT_GT(*looked, 0);
    EXPECT_LE(*looked, content->cardWindow().count);
}
