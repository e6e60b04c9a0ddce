#include "app/design/KeyedRows.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct PlanRow {
    const char* what;
    QStringList current;
    QStringList wanted;
    QList<int> sources;
    QList<int> dropped;
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const PlanRow& row, std::ostream* out)
{
    *out << row.what;
}

class Plans : public testing::TestWithParam<PlanRow> {};

TEST_P(Plans, KeepRowsWhoseKeysStay)
{
    const RowPlan plan = planRows(GetParam().current, GetParam().wanted);
    EXPECT_EQ(plan.sources, GetParam().sources) << GetParam().what;
    EXPECT_EQ(plan.dropped, GetParam().dropped) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Refreshes, Plans,
    testing::Values(
        PlanRow{"first fill", {}, {"a", "b"}, {-1, -1}, {}},
        PlanRow{"unchanged", {"a", "b"}, {"a", "b"}, {0, 1}, {}},
        PlanRow{"reordered", {"a", "b", "c"}, {"c", "a", "b"}, {2, 0, 1}, {}},
        PlanRow{"one gone, one new", {"a", "b", "c"}, {"a", "d", "c"}, {0, -1, 2}, {1}},
        PlanRow{"emptied", {"a", "b"}, {}, {}, {0, 1}},
        PlanRow{
            "a repeated key pairs up by occurrence", {"web", "web"}, {"web", "db", "web"}, {0, -1, 1}, {}},
        PlanRow{"a second occurrence that goes", {"web", "web"}, {"web"}, {0}, {1}}),
    [](const testing::TestParamInfo<PlanRow>& info) { return "case" + std::to_string(info.index); });

struct Item {
    QString key;
    QString text;
};

class Rows : public testing::Test {
protected:
    QWidget host;
    QVBoxLayout* layout = new QVBoxLayout(&host);
    QLabel* header = new QLabel("header");
    int made = 0;
    KeyedRows<Item, QLabel> rows{layout, [](const Item& item) { return item.key; },
                                 [this](const Item&) {
                                     ++made;
                                     return new QLabel;
                                 },
                                 [](QLabel* row, const Item& item, int index) {
                                     row->setText(QString::number(index) + ":" + item.text);
                                 },
                                 1};

    void SetUp() override { layout->addWidget(header); }

    QStringList shown() const
    {
        QStringList texts;
        for (int i = 0; i < layout->count(); ++i) {
            if (auto* label = qobject_cast<QLabel*>(layout->itemAt(i)->widget()))
                texts.append(label->text());
        }
        return texts;
    }
};

TEST_F(Rows, ARowIsTheSameWidgetAcrossRefreshes)
{
    rows.sync({{"a", "alpha"}, {"b", "beta"}});
    QLabel* beta = rows.row("b");
    ASSERT_NE(beta, nullptr);
    EXPECT_EQ(made, 2);

    rows.sync({{"b", "beta, renamed"}, {"c", "gamma"}, {"a", "alpha"}});
    EXPECT_EQ(rows.row("b"), beta);
    EXPECT_EQ(made, 3);
    EXPECT_EQ(shown(), (QStringList{"header", "0:beta, renamed", "1:gamma", "2:alpha"}));
}

TEST_F(Rows, RowsOfVanishedKeysLeaveTheLayoutAndAreDeleted)
{
    rows.sync({{"a", "alpha"}, {"b", "beta"}});
    QPointer<QLabel> alpha = rows.row("a");
    rows.sync({{"b", "beta"}});
    EXPECT_EQ(shown(), (QStringList{"header", "0:beta"}));
    EXPECT_EQ(rows.size(), 1);
    ASSERT_FALSE(alpha.isNull()); // deleted later, not under a caller that may be inside its signal
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alpha.isNull());
}

TEST_F(Rows, ARowDeletedFromOutsideIsBuiltAgain)
{
    rows.sync({{"a", "alpha"}});
    delete rows.row("a");
    rows.sync({{"a", "alpha"}});
    ASSERT_NE(rows.row("a"), nullptr);
    EXPECT_EQ(made, 2);
    EXPECT_EQ(shown(), (QStringList{"header", "0:alpha"}));
}

} // namespace
