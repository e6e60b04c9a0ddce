#include "app/SingleInstance.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(SingleInstance, TheSecondKnocksAndTheFirstHearsIt)
{
    QTemporaryDir folder;
    SingleInstance first(folder.path());
    ASSERT_EQ(first.claim(), SingleInstance::Role::first);
    QSignalSpy knocked(&first, &SingleInstance::knocked);

    for (int later = 1; later <= 2; ++later) {
        SingleInstance second(folder.path());
        EXPECT_EQ(second.claim(), SingleInstance::Role::handedOver);
        EXPECT_TRUE(TestSupport::eventually([&] { return knocked.count() == later; }, 5000));
    }
}

TEST(SingleInstance, WhatAProcessThatDiedLeftBehindIsTakenOver)
{
    QTemporaryDir folder;
    {
        SingleInstance died(folder.path());
        ASSERT_EQ(died.claim(), SingleInstance::Role::first);
    }
    // Its lock file and socket file are still there, but nobody holds or answers them.
    QFile socket(folder.filePath("voskel.socket"));
    if (!socket.exists()) {
        ASSERT_TRUE(socket.open(QIODevice::WriteOnly));
        socket.close();
    }
    ASSERT_TRUE(QFile::exists(folder.filePath("voskel.lock")));

    SingleInstance next(folder.path());
    EXPECT_EQ(next.claim(), SingleInstance::Role::first);
    SingleInstance after(folder.path());
    EXPECT_EQ(after.claim(), SingleInstance::Role::handedOver);
}

} // namespace
