#include "engine/VolumeEvents.h"

#include "support/TestSupport.h"

namespace {

QString event(const QString& type, const QString& action, const QString& id)
{
    return QStringLiteral(R"({"Type":"%1","Action":"%2","Actor":{"ID":"%3","Attributes":{"driver":"local"}},)"
                          R"("scope":"local","time":1796751350,"timeNano":1796751350014665700})")
               .arg(type, action, id) +
           u'\n';
}

} // namespace

// What the engine printed of the volumes asked: made again (removed, then made), gone, or untouched
// (mounted and unmounted by containers is no change); nothing when it may have let older events go.
TEST(VolumeEvents, TellMadeAgainFromGoneFromTouchedAndNothingFromAFullRecord)
{
    const QString printed =
        event("volume", "mount", "shop_data") + event("volume", "destroy", "shop_data") +
        event("volume", "create", "shop_data") + event("volume", "destroy", "shop_cache") +
        event("container", "create", "shop_logs") + event("volume", "unmount", "shop_logs") +
        event("volume", "create", "other") + "not json\n";
    EXPECT_EQ(Docker::parseVolumeEvents(printed, {"shop_data", "shop_cache", "shop_logs"}),
              (QMap<QString, QString>{{"shop_data", "create"}, {"shop_cache", "destroy"}}));

    QString full;
    for (qsizetype i = 0; i < Docker::keptEvents; ++i)
        full += event("container", "die", "c");
    EXPECT_EQ(Docker::parseVolumeEvents(full, {"shop_data"}), std::nullopt);
    full.chop(full.size() / Docker::keptEvents);
    EXPECT_EQ(Docker::parseVolumeEvents(full, {"shop_data"}), (QMap<QString, QString>{}));
}
