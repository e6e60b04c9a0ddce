#include "platform/FolderIdentity.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>

using TestSupport::ScopedEnv;

namespace {

// A tree of folders and links of the test's own, with its own home folder and Trash inside it:
//   real/shared (the folder), lnk -> real, elsewhere/into -> real/shared/sub, home, data (the Trash's).
class FolderIdentity : public testing::Test {
protected:
    QTemporaryDir root;
    ScopedEnv home{"HOME", root.filePath("home").toUtf8()};
    ScopedEnv data{"XDG_DATA_HOME", root.filePath("home/.local/share").toUtf8()};

    void SetUp() override
    {
        for (const char* dir : {"real/shared/sub", "elsewhere", "home/.local/share", "plain/data"})
            ASSERT_TRUE(QDir().mkpath(root.filePath(dir)));
        ASSERT_TRUE(QFile::link(root.filePath("real"), root.filePath("lnk")));
        ASSERT_TRUE(QFile::link(root.filePath("real/shared/sub"), root.filePath("elsewhere/into")));
        ASSERT_TRUE(QFile::link(root.filePath("home"), root.filePath("to-home")));
    }
};

} // namespace

// Another name of something inside the folder is inside it: through a link on the way there, through a
// link that leads there from elsewhere, or not there yet. A parent or a name that merely starts alike
// is not.
TEST_F(FolderIdentity, WhatLiesWithinAFolderIsToldByIdentityNotByText)
{
    const std::optional<Platform::FileIdentity> shared = Platform::identityOf(root.filePath("real/shared"));
    ASSERT_TRUE(shared);
    EXPECT_EQ(Platform::identityOf(root.filePath("lnk/shared/")), shared);
    const struct {
        QString path;
        bool within;
    } rows[] = {
        {"real/shared", true},
        {"lnk/shared/data", true},
        {"elsewhere/into/compose.yaml", true},
        {"real/shared/not/there/yet", true},
        {"real", false},
        {"real/shared-2/x", false},
        {"elsewhere/x", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Platform::liesWithin(root.filePath(row.path), *shared), row.within)
            << row.path.toStdString();
}

// Whoever uses it, some folders never go to the Trash; any other may.
TEST_F(FolderIdentity, FoldersThatNeverGoToTheTrash)
{
    const QString trash = root.filePath("home/.local/share/Trash");
    const struct {
        QString label;
        std::optional<QString> why;
    } rows[] = {
        {"relative/path", "it is not a plain absolute path"},
        {root.filePath("real/./shared"), "it is not a plain absolute path"},
        {root.filePath("real/shared/.."), "it is not a plain absolute path"},
        {"/", "it is the root of the file system"},
        {root.filePath("home"), "it is your home folder"},
        {root.filePath("to-home"), "it is your home folder"},
        {root.path(), "it holds your home folder"},
        {root.filePath("home/.local"), "it holds the Trash " + trash},
        {"/proc", "it is a system folder, directly under the root of the file system"},
        {root.filePath("nowhere"), "it is not there"},
        {root.filePath("lnk/shared"), std::nullopt},
        {root.filePath("plain"), std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Platform::trashOfferRefusal(row.label), row.why) << row.label.toStdString();
}

// A birth time tells a folder made again from the one it replaced, inode and all; where one side has
// none, device and inode alone decide.
TEST(FileIdentities, BirthTimesAreComparedOnlyWhenBothHaveOne)
{
    const Platform::FileIdentity old{8, 42, 1000};
    EXPECT_NE(old, (Platform::FileIdentity{8, 42, 2000}));
    EXPECT_EQ(old, (Platform::FileIdentity{8, 42, std::nullopt}));
    EXPECT_EQ((Platform::FileIdentity{8, 42, std::nullopt}), old);
    EXPECT_NE(old, (Platform::FileIdentity{8, 43, std::nullopt}));
    EXPECT_NE(old, (Platform::FileIdentity{9, 42, 1000}));
}

// A folder's identity holds the birth time exactly where the file system gives one, as the kernel
// itself says; judged on every file system, with or without birth times.
TEST(FileIdentities, TheBirthTimeIsTheFileSystemsOwn)
{
    QTemporaryDir root;
    const QString dir = root.filePath("shop");
    ASSERT_TRUE(QDir().mkpath(dir));
    struct statx sx {};
    ASSERT_EQ(::statx(AT_FDCWD, QFile::encodeName(dir).constData(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx), 0);
    const std::optional<Platform::FileIdentity> seen = Platform::identityOf(dir);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->inode, sx.stx_ino);
    if (sx.stx_mask & STATX_BTIME)
        EXPECT_EQ(seen->born, qint64(sx.stx_btime.tv_sec) * 1'000'000'000 + sx.stx_btime.tv_nsec);
    else
        EXPECT_EQ(seen->born, std::nullopt);
}
