#include "platform/FolderContents.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The places a chooser offers: the drives a person mounted, not the system's own mounts, and the
// bookmarked local folders with their labels.
TEST(FolderContents, PlacesAreTheDrivesAndBookmarksAPersonMade)
{
    const QStringList points{"/",
                             "/media/usb",
                             "/media/ada/STICK",
                             "/media/ada/a/deep",
                             "/mnt",
                             "/mnt/backup",
                             "/mnt/sandbox/env/v1/python",
                             "/run/media/ada/CARD",
                             "/run/media/bob/CARD",
                             "/run/media/ada/CARD/inner",
                             "/home/ada",
                             "/media/"};
    EXPECT_EQ(Platform::drivesAmong(points, "ada"),
              (QStringList{"/media/ada/STICK", "/media/usb", "/mnt", "/mnt/backup", "/run/media/ada/CARD"}));
    // No user known: nobody's /run/media.
    EXPECT_FALSE(Platform::drivesAmong(points, "").contains("/run/media/ada/CARD"));

    QTemporaryDir home;
    QFile file(home.filePath("bookmarks"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("file:///srv/code%20base Code base\n"
               "file:///srv/code%20base Again\n"
               "\n"
               "file:///home/ada/notes\n"
               "sftp://host/srv Server\n"
               "file:///\n");
    file.close();
    const Platform::Bookmarks marks = Platform::readBookmarks(file.fileName());
    EXPECT_EQ(marks.paths, (QStringList{"/srv/code base", "/home/ada/notes", "/"}));
    EXPECT_EQ(marks.names, (QStringList{"Code base", "notes", "/"}));
    EXPECT_EQ(Platform::readBookmarks(home.filePath("missing")), Platform::Bookmarks{});
}

// A save goes into a folder of that name, asks before replacing a file, and is refused where there is
// no folder to put it in; the write keeps what was there whole when it cannot be done.
TEST(FolderContents, ASaveTargetIsToldApartAndWrittenWhole)
{
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkdir("logs"));
    EXPECT_EQ(Platform::lookAtSaveTarget(root.filePath("logs")), (Platform::SaveTarget{true, true, true}));
    EXPECT_EQ(Platform::lookAtSaveTarget(root.filePath("web.log")),
              (Platform::SaveTarget{false, false, true}));
    EXPECT_EQ(Platform::lookAtSaveTarget(root.filePath("gone/web.log")),
              (Platform::SaveTarget{false, false, false}));

    EXPECT_EQ(Platform::writeTextFile(root.filePath("web.log"), "first\n"), std::nullopt);
    EXPECT_EQ(Platform::lookAtSaveTarget(root.filePath("web.log")),
              (Platform::SaveTarget{true, false, true}));
    EXPECT_NE(Platform::writeTextFile(root.filePath("gone/web.log"), "x"), std::nullopt);
    QFile written(root.filePath("web.log"));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), "first\n");

    const Platform::FolderListing listing = Platform::listFolder(root.path(), true);
    EXPECT_TRUE(listing.isFolder);
    EXPECT_EQ(listing.folders, QStringList{"logs"});
    EXPECT_EQ(listing.files, QStringList{"web.log"});
    EXPECT_FALSE(Platform::listFolder(root.filePath("web.log"), false).isFolder);
}

} // namespace
