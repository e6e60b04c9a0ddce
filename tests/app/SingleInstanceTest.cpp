#include "app/SingleInstance.h"
#include "keeper/ProcessWatch.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

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

TEST(SingleInstance, OneOnItsWayOutIsNotKnockedOnButReplacedOnceItIsGone)
{
    QTemporaryDir folder;
    SingleInstance leaving(folder.path());
    ASSERT_EQ(leaving.claim(), SingleInstance::Role::first);
    QSignalSpy knocked(&leaving, &SingleInstance::knocked);
    leaving.stopListening();
    // It still holds the lock while it ends its children: a start now waits for it instead of
    // handing over to a process that will never show a window.
    SingleInstance meanwhile(folder.path());
    EXPECT_EQ(meanwhile.claim(300), SingleInstance::Role::unanswered);
    QCoreApplication::processEvents();
    EXPECT_EQ(knocked.count(), 0);

    // Another process holds the lock for a moment, answering nobody, and then ends: the start that
    // waited for it becomes the first.
    QTemporaryDir other;
    const int held =
        ::open(QFile::encodeName(other.filePath("voskel.lock")).constData(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    std::thread ends([held] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::close(held);
    });
    SingleInstance next(other.path());
    EXPECT_EQ(next.claim(60000), SingleInstance::Role::first);
    ends.join();
    EXPECT_TRUE(QFileInfo::exists(other.filePath("voskel.socket")));
}

// A Voskel whose end is held up by a thread in the kernel (a look at a stalled folder) stays as a
// process, files open, until that thread returns. A new start takes its place all the same, whether
// the way out ended it past its time or it was killed; and the one that started answers the next.
TEST(SingleInstance, AProcessHeldOnItsWayOutDoesNotKeepANewStartOut)
{
    for (const char* how : {"end", "wait"}) {
        TestSupport::StalledFolder stalled;
        if (stalled.whyNot())
            GTEST_SKIP() << "no stalled folder here: " << stalled.whyNot()->toStdString();
        QTemporaryDir folder;
        QProcess holder;
        holder.start(QStringLiteral(VOSKEL_INSTANCE_HOLDER),
                     {folder.path(), stalled.stalledPath(), QString::fromLatin1(how)});
        ASSERT_TRUE(TestSupport::eventually([&] { return holder.readAll().contains("ready"); }, 10000))
            << how;
        if (how == std::string_view("wait"))
            ::kill(pid_t(holder.processId()), SIGKILL);
        EXPECT_TRUE(TestSupport::eventually(
            [&] {
                const auto seen = Keeper::readProcessState(pid_t(holder.processId()));
                return seen && seen->state == 'Z';
            },
            5000))
            << how << ": ended, and held";

        SingleInstance next(folder.path());
        EXPECT_EQ(next.claim(3000), SingleInstance::Role::first) << how;
        SingleInstance after(folder.path());
        EXPECT_EQ(after.claim(3000), SingleInstance::Role::handedOver) << how;
        stalled.release();
        EXPECT_TRUE(TestSupport::eventually([&] { return holder.state() == QProcess::NotRunning; }, 5000));
    }
}

TEST(SingleInstance, AFolderWithoutRoomForALockDoesNotKeepTheApplicationFromStarting)
{
    // Not someone else's lock: nothing to knock on or wait for.
    QTemporaryDir folder;
    SingleInstance instance(folder.filePath("gone"));
    EXPECT_EQ(instance.claim(60000), SingleInstance::Role::first);
}

} // namespace
