#include "screens/CloneProjectView.h"
#include "screens/DeleteProjectContent.h"
#include "screens/DeleteProjectView.h"

#include "ProjectsTesting.h"
#include "app/design/PreviewChrome.h"
#include "support/TestSupport.h"

#include <QLineEdit>

#include <gtest/gtest.h>

using namespace ProjectsTesting;

namespace {

// The delete and clone sheets in both looks, for eyes: <build>/gallery/sheet-delete*.png and
// sheet-clone*.png (the clone's output is the command output sheet, already there).
TEST_F(ProjectsStore, TheDeleteAndCloneSheetsRenderInBothLooks)
{
    QTemporaryDir home;
    TestSupport::ScopedEnv homeEnv{"HOME", home.path().toUtf8()};
    const QString dir = home.filePath("storefront");
    showing({inFolder(container("storefront-api-1", "running", "storefront"), dir),
             inFolder(container("storefront-web-1", "running", "storefront"), dir)});
    const ComposeProject project = store->projects().value(0);
    TeardownPlan plan{
        "storefront",
        {"storefront-api-1", "storefront-web-1"},
        {{"storefront_pgdata", {}, "69.4 MB"}, {"storefront_uploads", {"atlas-worker-1"}, "318.8 MB"}},
        dir};
    // Started through a link, with bind-mounted folders inside that the Trash would take along.
    plan.folderLink = home.filePath("current");
    plan.folderBinds = {dir + "/cache", dir + "/site"};

    // Working out (never shown, so it asks for no plan), ready, and as the screenshots draw it.
    const auto deleteSheet = [&](std::optional<TeardownPlan> shown, bool preview) {
        return [&, shown, preview]() -> std::unique_ptr<QWidget> {
            auto sheet = std::make_unique<DeleteProjectView>(*store, project, shown);
            sheet->setTrashDirectory(true);
            setVoskPreviewChrome(sheet.get(), preview);
            return sheet;
        };
    };
    const QSize size = DeleteProjectView::size;
    for (const auto& [name, make] : {std::pair{"sheet-delete-working-out", deleteSheet(std::nullopt, false)},
                                     std::pair{"sheet-delete", deleteSheet(plan, false)},
                                     std::pair{"sheet-delete-preview", deleteSheet(plan, true)}})
        EXPECT_EQ(TestSupport::renderToGallery(name, make, size.width(), size.height()).size(), 2);
    // The plan whole, with what it says below the folder.
    EXPECT_EQ(
        TestSupport::renderToGallery(
            "sheet-delete-plan",
            [&]() -> std::unique_ptr<QWidget> { return std::make_unique<DeleteProjectContent>(plan, true); },
            size.width(), 640)
            .size(),
        2);

    const auto cloneForm = [&](const QString& url) {
        return [&, url]() -> std::unique_ptr<QWidget> {
            auto form = std::make_unique<CloneProjectView>(*store);
            form->show();
            form->findChild<QLineEdit*>("urlField")->setText(url);
            return form;
        };
    };
    EXPECT_EQ(TestSupport::renderToGallery("sheet-clone", cloneForm("https://github.com/acme/shop.git"),
                                           CloneProjectView::width)
                  .size(),
              2);
    ASSERT_TRUE(QDir().mkpath(dir));
    EXPECT_EQ(TestSupport::renderToGallery("sheet-clone-taken",
                                           cloneForm("git@github.com:acme/storefront.git"),
                                           CloneProjectView::width)
                  .size(),
              2);
}

} // namespace
