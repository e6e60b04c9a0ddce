#include "store/DeletionFixture.h"

using namespace StoreTesting;

// A project remembered while it is down is read from every set of files it was started from: a bind
// only its second set names keeps a folder as one its first names does. What its containers had
// mounted while it ran counts as used by it too, with all that lies below, whatever its files name now.
TEST_F(Deletion, EverySetARememberedProjectWasStartedFromAndWhatItHadMountedAreUsed)
{
    const QString dir = folder("shop");
    world(alpha, {member("shop-web", dir)});
    world(beta, {});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    const QString orders = folder("orders");
    QFile extra(orders + "/extra.yaml");
    ASSERT_TRUE(extra.open(QIODevice::WriteOnly));
    extra.write(("services:\n  web:\n    volumes: [\"" + dir + "/uploads:/u\"]\n").toUtf8());
    extra.close();
    const StartedFrom first{orders + "/compose.yaml", orders, {}, {"db"}};
    const StartedFrom second{orders + "/compose.yaml," + orders + "/extra.yaml", orders, {}, {"web"}};
    const struct {
        const char* what;
        QList<StartedFrom> sets;
        QStringList mounts;
        bool offered;
    } rows[] = {
        {"its first set alone", {first}, {}, true},
        {"both sets", {first, second}, {}, false},
        {"what it had mounted, above the folder", {first}, {root.path()}, false},
    };
    for (const auto& row : rows) {
        ProjectRegistry registry;
        registry.add({"orders", orders, {"db", "web"}, {}, row.sets, row.mounts}, QStringLiteral("beta"));
        s.setRegistry(registry);
        const TeardownPlan plan = planned(dir);
        EXPECT_EQ(plan.workingDir.has_value(), row.offered) << row.what;
        if (!row.offered) {
            EXPECT_EQ(plan.notes, QStringList{dir + " is not offered for the Trash: used by project orders."})
                << row.what;
        }
    }
}
