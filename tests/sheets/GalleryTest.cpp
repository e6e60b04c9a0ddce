#include "sheets/CommandRunView.h"
#include "sheets/ExecView.h"
#include "sheets/LogsView.h"

#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QLineEdit>
#include <QTest>

using TestSupport::eventually;

// Each sheet in both looks, for eyes: <build>/gallery/<sheet>-light.png and -dark.png.
TEST(SheetGallery, RendersEverySheetInBothLooks)
{
    TestSupport::FakeTools fakes({QStringLiteral("docker")});
    Container web;
    web.id = QStringLiteral("c0ffee");
    web.name = QStringLiteral("shop-web-1");
    web.state = QStringLiteral("running");
    web.status = QStringLiteral("Up 3 minutes (healthy)");
    fakes.answer("docker", {"logs", "-f", "--tail", "300", "c0ffee"},
                 "2024-05-01 12:00:01 listening on :8080\n2024-05-01 12:00:02 GET /health 200\n"
                 "2024-05-01 12:00:07 GET / 200 (3 ms)\n");
    fakes.answer("docker", {"exec", "c0ffee", "sh", "-c", "exec 2>&1\nls /srv"}, "index.html\nstatic\n");
    fakes.answer("docker", {"exec", "c0ffee", "sh", "-c", "exec 2>&1\ncat /missing"},
                 "cat: can't open '/missing'\n", {}, 1);

    const auto command = [](const QString& script, const QString& banner) {
        return [script, banner]() -> std::unique_ptr<QWidget> {
            auto sheet = std::make_unique<CommandRunView>(
                QStringLiteral("Rebuilding shop"), banner, [script] { return TestSupport::shell(script); },
                nullptr);
            sheet->show();
            eventually([&] { return sheet->exitStatus().has_value(); }, 5000);
            eventually([] { return false; }, 50);
            return sheet;
        };
    };
    const QSize commandSize = CommandRunView::size;
    EXPECT_EQ(
        TestSupport::renderToGallery(
            QStringLiteral("sheet-command-done"),
            command(QStringLiteral(
                        "echo ' Container shop-web-1  Recreated'; echo ' Container shop-web-1  Started'"),
                    QStringLiteral("$ docker compose up -d --build")),
            commandSize.width(), commandSize.height())
            .size(),
        2);
    EXPECT_EQ(TestSupport::renderToGallery(QStringLiteral("sheet-command-failed"),
                                           command(QStringLiteral("echo 'no such image' >&2; exit 1"),
                                                   QStringLiteral("$ docker push shop/web:1.0")),
                                           commandSize.width(), commandSize.height())
                  .size(),
              2);

    const auto exec = [web]() -> std::unique_ptr<QWidget> {
        auto sheet = std::make_unique<ExecView>(web, std::nullopt);
        sheet->show();
        auto* field = sheet->findChild<QLineEdit*>(QStringLiteral("commandField"));
        for (const char* command : {"ls /srv", "cat /missing"}) {
            field->setText(QString::fromLatin1(command));
            QTest::keyClick(field, Qt::Key_Return);
            eventually([&] { return !sheet->running(); }, 5000);
        }
        field->setText(QStringLiteral("env | sort"));
        return sheet;
    };
    EXPECT_EQ(TestSupport::renderToGallery(QStringLiteral("sheet-exec"), exec, ExecView::size.width(),
                                           ExecView::size.height())
                  .size(),
              2);

    const auto logs = [web]() -> std::unique_ptr<QWidget> {
        auto sheet = std::make_unique<LogsView>(LogSource::container(web), std::nullopt, false);
        sheet->show();
        eventually([&] { return sheet->text().contains("(3 ms)"); }, 5000);
        return sheet;
    };
    EXPECT_EQ(TestSupport::renderToGallery(QStringLiteral("sheet-logs"), logs, LogsView::size.width(),
                                           LogsView::size.height())
                  .size(),
              2);

    // A project's log: its name has the header's room before the two pickers.
    const auto projectLogs = []() -> std::unique_ptr<QWidget> {
        ComposeProject project;
        project.name = QStringLiteral("orders-frontend");
        auto sheet = std::make_unique<LogsView>(LogSource::project(project), std::nullopt, false);
        sheet->show();
        return sheet;
    };
    EXPECT_EQ(TestSupport::renderToGallery(QStringLiteral("sheet-logs-project"), projectLogs,
                                           LogsView::size.width(), LogsView::size.height())
                  .size(),
              2);
}
