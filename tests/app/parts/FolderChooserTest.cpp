#include "app/parts/FolderChooser.h"
#include "app/design/FocusRing.h"
#include "app/parts/Alert.h"
#include "app/parts/ChooserRows.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QStringList shown(const QListWidget* list)
{
    QStringList names;
    for (int row = 0; row < list->count(); ++row)
        names << list->item(row)->text();
    return names;
}

// Pixels of `widget` as drawn now in the focus ring's colour.
int ringPixels(QWidget* widget)
{
    const QImage image = widget->grab().toImage();
    const QColor ring = FocusRing::color();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - ring.red()) < 8 && std::abs(pixel.green() - ring.green()) < 8 &&
                std::abs(pixel.blue() - ring.blue()) < 8)
                ++count;
        }
    return count;
}

// Tab goes from the typed path to the list and on to the button that chooses, past the runtime to add
// to where one is asked; the places, the parent and a new folder come after the buttons. The list of a
// folder with no folders in it shows the focus ring when Tab reaches it.
TEST(FolderChooser, TabGoesFromThePathThroughTheListToTheButton)
{
    TestSupport::prepareWidgets();
    QTemporaryDir root;
    const struct {
        const char* what;
        QStringList choices;
        QStringList stops;
    } rows[] = {
        {"without a choice",
         {},
         {"folderList", "acceptButton", "cancelButton", "placesList", "parentButton", "newFolderName",
          "newFolderButton", "folderPath"}},
        {"with the runtime to add to",
         {"default", "work"},
         {"folderList", "runtimeChoice", "acceptButton", "cancelButton", "placesList", "parentButton",
          "newFolderName", "newFolderButton", "folderPath"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Host::FolderRequest request;
        request.prompt = "Add";
        request.startIn = root.path();
        request.canCreateFolders = true;
        request.choices = row.choices;
        request.choicesLabel = "Runtime:";
        FolderChooser chooser(request);
        chooser.show();
        auto* list = chooser.findChild<QListWidget*>("folderList");
        auto* path = chooser.findChild<QLineEdit*>("folderPath");
        ASSERT_TRUE(TestSupport::eventually([&] { return chooser.status() == "No folders in here."; }));
        EXPECT_EQ(ringPixels(list), 0);

        EXPECT_EQ(TestSupport::tabStops(chooser, int(row.stops.size()), path), row.stops);
        path->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(path, Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), list);
        EXPECT_TRUE(ChooserRows::ringsWholeList(list));
        EXPECT_GT(ringPixels(list), list->width()) << "the empty list shows no focus";
        QTest::keyClick(list, Qt::Key_Backtab);
        EXPECT_EQ(QApplication::focusWidget(), path);
        QTest::keyClick(path, Qt::Key_Backtab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), "newFolderButton");
    }
}

// The keys a desktop's chooser answers to, pressed where the focus is: Ctrl+H shows and hides the hidden
// folders, Alt+Up goes up anywhere, Backspace goes up from the list but deletes a letter in the field.
TEST(FolderChooser, AnswersTheKeysOfADesktopsChooser)
{
    TestSupport::prepareWidgets();
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath("app/web"));
    ASSERT_TRUE(QDir(root.path()).mkpath("app/.cache"));
    Host::FolderRequest request;
    request.prompt = "Add";
    request.startIn = root.filePath("app");
    FolderChooser chooser(request);
    EXPECT_EQ(chooser.windowTitle(), "Choose a Folder");
    chooser.show();
    QApplication::setActiveWindow(&chooser);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&chooser));
    auto* list = chooser.findChild<QListWidget*>("folderList");
    auto* path = chooser.findChild<QLineEdit*>("folderPath");
    ASSERT_TRUE(TestSupport::eventually([&] { return list->count() == 1; }));
    EXPECT_EQ(shown(list), QStringList{"web"});

    QTest::keyClick(path, Qt::Key_H, Qt::ControlModifier);
    EXPECT_EQ(shown(list), (QStringList{".cache", "web"}));
    QTest::keyClick(path, Qt::Key_H, Qt::ControlModifier);
    EXPECT_EQ(shown(list), QStringList{"web"});

    path->setFocus();
    path->setText(root.filePath("app") + "x");
    QTest::keyClick(path, Qt::Key_Backspace);
    EXPECT_EQ(chooser.folder(), root.filePath("app")) << "Backspace in the field is the field's";
    EXPECT_EQ(path->text(), root.filePath("app"));

    list->setFocus();
    QTest::keyClick(list, Qt::Key_Backspace);
    EXPECT_EQ(chooser.folder(), root.path());
    ASSERT_TRUE(TestSupport::eventually([&] { return shown(list) == QStringList{"app"}; }));
    QTest::keyClick(path, Qt::Key_Up, Qt::AltModifier);
    EXPECT_EQ(chooser.folder(), QFileInfo(root.path()).path());

    // A typed path is completed from what its folder holds, looked at off the window's thread.
    path->setFocus();
    path->clear();
    QTest::keyClicks(path, root.filePath("app/w"));
    auto* completer = path->completer();
    ASSERT_TRUE(TestSupport::eventually([&] { return completer->completionCount() == 1; }));
    EXPECT_EQ(completer->currentCompletion(), root.filePath("app/web/"));
}

// The save panel hands back the file's path: into a folder typed as the name, and past a file of the
// name only once the user said to replace it.
TEST(FolderChooser, SavingGoesIntoAFolderAndAsksBeforeReplacing)
{
    TestSupport::prepareWidgets();
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkdir("logs"));
    QFile old(root.filePath("logs/web.log"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.close();
    QWidget window;
    window.show();
    auto* chooser = new FolderChooser("web.log", root.path(), &window);
    chooser->open();
    auto* name = chooser->findChild<QLineEdit*>("fileName");
    auto* save = chooser->findChild<QAbstractButton*>("acceptButton");
    EXPECT_EQ(name->selectedText(), "web");

    name->setText("logs");
    save->click();
    ASSERT_TRUE(TestSupport::eventually([&] { return chooser->folder() == root.filePath("logs"); }));
    EXPECT_TRUE(chooser->isVisible());

    name->setText("web.log");
    save->click();
    Alert* replace = nullptr;
    ASSERT_TRUE(
        TestSupport::eventually([&] { return (replace = chooser->findChild<Alert*>("replaceAlert")); }));
    replace->findChild<QAbstractButton*>("cancelButton")->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(chooser->isVisible()) << "Cancel keeps the file and the panel";

    save->click();
    ASSERT_TRUE(TestSupport::eventually([&] {
        replace = chooser->findChild<Alert*>("replaceAlert");
        return replace && replace->isVisible();
    }));
    replace->findChild<QAbstractButton*>("replaceButton")->click();
    ASSERT_TRUE(TestSupport::eventually([&] { return !chooser->isVisible(); }));
    EXPECT_EQ(chooser->result(), QDialog::Accepted);
    EXPECT_EQ(chooser->chosenPath(), root.filePath("logs/web.log"));
    delete chooser;
}

} // namespace
