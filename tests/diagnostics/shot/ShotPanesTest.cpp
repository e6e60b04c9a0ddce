#include "diagnostics/shot/ShotPanes.h"
#include "app/design/PreviewChrome.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Banner.h"
#include "app/shell/Sidebar.h"
#include "diagnostics/shot/ShotFixtures.h"
#include "diagnostics/shot/ShotGenerator.h"
#include "diagnostics/shot/ShotStage.h"
#include "platform/Settings.h"
#include "screens/ContainerCard.h"
#include "screens/DeleteProjectContent.h"
#include "screens/ProjectCard.h"
#include "screens/ProjectDetailContent.h"
#include "screens/ProjectsContent.h"
#include "settings/RuntimeToolsSection.h"
#include "sheets/ReclaimView.h"
#include "store/AppStore.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using TestSupport::ScopedEnv;

// The fixture store on settings in memory, in a home of its own with the fixture folders.
class ShotPanesTest : public testing::Test {
protected:
    void SetUp() override
    {
        TestSupport::prepareWidgets();
        ShotFixtures::makeFixtureDirs();
    }

    QTemporaryDir m_home;
    ScopedEnv m_env{"HOME", m_home.path().toUtf8()};
    ShotStage m_stage{Platform::Settings::inMemory()};

    std::unique_ptr<QWidget> build(const QString& stem)
    {
        for (const ShotGenerator::Screen& screen : ShotGenerator::screens())
            if (screen.stem == stem)
                return ShotGenerator::build(screen, m_stage);
        ADD_FAILURE() << "no screen " << stem.toStdString();
        return nullptr;
    }
};

QStringList shownBanners(QWidget& root)
{
    QStringList shown;
    for (Banner* banner : root.findChildren<Banner*>())
        if (!banner->isHidden())
            shown << banner->shownText();
    return shown;
}

// The texts of every label in `root`, as written.
QStringList labelTexts(QWidget& root)
{
    QStringList texts;
    for (const VoskLabel* label : root.findChildren<VoskLabel*>())
        texts << label->plainText();
    return texts;
}

} // namespace

TEST_F(ShotPanesTest, TheStripsShowTheStoresTextsAndOnlyWhileItHasThem)
{
    AppStore& store = m_stage.store();
    std::unique_ptr<QWidget> screen = ShotPanes::screen(store, Category::projects, true, false);
    EXPECT_EQ(shownBanners(*screen), (QStringList{*store.error(), *store.notice(), ShotPanes::updateText}));

    store.setError(std::nullopt);
    screen = ShotPanes::screen(store, Category::containers, true, true);
    EXPECT_EQ(shownBanners(*screen), (QStringList{*store.notice(), ShotPanes::updateText}));
    EXPECT_EQ(screen->findChild<Sidebar*>()->width(), 190);

    screen = ShotPanes::screen(store, Category::projects, false, false);
    EXPECT_TRUE(screen->findChildren<Banner*>().isEmpty());
}

TEST_F(ShotPanesTest, ThePicturesOfTheProjectsShowEveryProjectThoughNeverShownOnScreen)
{
    std::unique_ptr<QWidget> screen = build(QStringLiteral("projects-narrow"));
    ASSERT_FALSE(ShotGenerator::render(*screen).isNull());
    EXPECT_EQ(screen->findChildren<ProjectCard*>().size(), 6);
    EXPECT_EQ(screen->findChild<ProjectsContent*>()->emphasizedId(),
              QStringLiteral("apple-container/atlas-analytics"));
    // The projects with something stopped or built here offer to free it.
    QStringList freeing;
    for (const ProjectCard* card : screen->findChildren<ProjectCard*>())
        if (!card->findChild<QAbstractButton*>("freeButton")->isHidden())
            freeing << card->project().name;
    freeing.sort();
    EXPECT_EQ(freeing, (QStringList{"atlas-analytics", "legacy-invoicing", "storefront"}));

    screen = build(QStringLiteral("project"));
    auto* detail = screen->findChild<ProjectDetailContent*>();
    ASSERT_TRUE(detail);
    EXPECT_EQ(detail->project().name, QStringLiteral("atlas-analytics"));
    EXPECT_EQ(screen->findChildren<ContainerCard*>().size(), 2);
}

TEST_F(ShotPanesTest, EveryScreenButTheToolsWearsThePreviewChromeAndHasItsSize)
{
    for (const ShotGenerator::Screen& screen : ShotGenerator::screens()) {
        const std::unique_ptr<QWidget> widget = ShotGenerator::build(screen, m_stage);
        EXPECT_EQ(widget->size(), screen.points) << screen.stem.toStdString();
        const QList<QWidget*> children = widget->findChildren<QWidget*>();
        ASSERT_FALSE(children.isEmpty());
        EXPECT_EQ(voskPreviewChrome(children.last()), !screen.stem.startsWith("tools"))
            << screen.stem.toStdString();
    }
}

TEST_F(ShotPanesTest, TheReclaimPictureShowsTheMeasuredListWithoutMeasuringAnything)
{
    const QDateTime before = m_stage.store().usageAt();
    std::unique_ptr<QWidget> widget = build(QStringLiteral("reclaim"));
    ASSERT_FALSE(ShotGenerator::render(*widget).isNull());
    auto* sheet = qobject_cast<ReclaimView*>(widget.get());
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->measured());
    EXPECT_EQ(sheet->chosen().size(), 3);
    EXPECT_TRUE(sheet->findChild<QAbstractButton*>("removeButton")->text().startsWith("Remove 3 · "));
    // Nothing asked the engine for a new measurement.
    EXPECT_EQ(m_stage.store().usageAt(), before);

    // Without usage the list is empty and nothing is ticked.
    m_stage.store().setUsage(std::nullopt);
    widget = build(QStringLiteral("reclaim"));
    sheet = qobject_cast<ReclaimView*>(widget.get());
    EXPECT_TRUE(sheet->chosen().isEmpty());
    EXPECT_EQ(sheet->findChild<QAbstractButton*>("removeButton")->text(), QStringLiteral("Nothing selected"));
}

TEST_F(ShotPanesTest, TheDeletePictureIsTheSheetsTitleOverStorefrontsPlanWithTheTrashChosen)
{
    std::unique_ptr<QWidget> widget = build(QStringLiteral("delete"));
    auto* content = widget->findChild<DeleteProjectContent*>();
    ASSERT_TRUE(content);
    EXPECT_TRUE(content->trashDirectory());
    EXPECT_EQ(widget->findChild<VoskLabel*>("titleLabel")->plainText(), QStringLiteral("Delete storefront"));
    // A picture confirms nothing, and shows the whole plan rather than a scrolled part of it.
    EXPECT_FALSE(widget->findChild<QAbstractButton*>("deleteButton"));
    EXPECT_FALSE(widget->findChild<QAbstractScrollArea*>());
    ASSERT_FALSE(ShotGenerator::render(*widget).isNull());
    EXPECT_LE(content->geometry().bottom(), widget->height());

    // Without storefront the first project names the sheet, over the same plan.
    AppStore& store = m_stage.store();
    QList<Container> others;
    for (const Container& c : store.containers())
        if (!c.name.startsWith(QLatin1String("storefront")))
            others << c;
    store.setContainers(others);
    widget = build(QStringLiteral("delete"));
    EXPECT_EQ(widget->findChild<VoskLabel*>("titleLabel")->plainText(),
              QStringLiteral("Delete atlas-analytics"));
    EXPECT_TRUE(labelTexts(*widget).contains(QStringLiteral("storefront-api-1")));
}

TEST_F(ShotPanesTest, TheToolsPaneOffersAnUpdateOnlyWhenStale)
{
    for (const bool stale : {true, false}) {
        const std::unique_ptr<QWidget> pane =
            ShotPanes::toolsPane(m_stage.settings(), m_stage.preferences(), stale);
        auto* section = pane->findChild<RuntimeToolsSection*>();
        ASSERT_TRUE(section);
        EXPECT_EQ(section->toolRows().size(), 4);
        // The running services lag behind their client, and the builder runs, only in the stale picture.
        EXPECT_EQ(!pane->findChild<QWidget*>("restartNotice")->isHidden(), stale);
        EXPECT_EQ(section->builderRow() != nullptr, stale);
        // The unknown pane comes after the stale one on the same settings, and was never checked.
        const QString status = pane->findChild<VoskLabel*>("statusLine")->plainText();
        EXPECT_TRUE(status.endsWith(stale ? "· CHECKED 09:41" : "· NOT CHECKED")) << status.toStdString();
    }
    int updates = 0;
    for (const Tool& tool : ShotPanes::tools(true))
        updates += tool.latest && *tool.latest != *tool.installed;
    EXPECT_EQ(updates, 1);
}
