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

// What the engine printed of the volumes asked: made again (removed, then made), or gone. The engine
// takes a volume filter as the start of a name, so a longer name is another volume.
TEST(VolumeEvents, TellMadeAgainFromGoneOfTheVolumesAskedOnly)
{
    const QString printed =
        event("volume", "destroy", "shop_data") + event("volume", "create", "shop_data") +
        event("volume", "destroy", "shop_cache") + event("volume", "create", "shop_data_old") +
        event("container", "create", "shop_logs") + event("volume", "mount", "shop_logs") + "not json\n";
    EXPECT_EQ(Docker::parseVolumeEvents(printed, {"shop_data", "shop_cache", "shop_logs"}),
              (QMap<QString, QString>{{"shop_data", "create"}, {"shop_cache", "destroy"}}));
}

// The engine lets its oldest events go: those since a time are all there only while it still keeps one
// from a second or more before it, whatever it keeps after it.
TEST(VolumeEvents, AreAllKeptOnlyWhileOneFromBeforeTheirTimeIs)
{
    const QString since = "2026-12-09T00:36:47.033443549Z";
    const qint64 at = 1796776607033443549;
    const auto line = [](qint64 nanos) { return QString::number(nanos) + '\n'; };
    const struct {
        QString printed;
        QString since;
        bool kept;
    } rows[] = {
        {line(at - 5'000'000'000) + line(at + 1), since, true},
        {line(at - 1'000'000'000), since, true},
        {line(at - 999'999'999) + line(at - 10), since, false}, // let go a moment before the time, maybe
        {line(at + 3'000'000'000), since, false},
        {QString(), since, false}, // nothing kept at all: an engine started since
        {"garbage\n-1\n" + line(at - 5'000'000'000), since, true},
        {line(at - 5'000'000'000), "2026-12-09T01:36:47.033443549+01:00", true},
        {line(at - 5'000'000'000), "2026-12-09T01:36:42+01:00", false},
        {line(at - 5'000'000'000), "yesterday", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Docker::keptSince(row.printed, row.since), row.kept)
            << row.printed.toStdString() << " since " << row.since.toStdString();
}

TEST(VolumeEvents, EngineTimesReadToTheNanosecondWithTheirOffset)
{
    EXPECT_EQ(Docker::engineNanos("2026-12-09T00:36:47.033443549Z"), 1796776607033443549);
    EXPECT_EQ(Docker::engineNanos("2026-12-09T00:36:47.5Z"), 1796776607500000000);
    EXPECT_EQ(Docker::engineNanos("2026-12-09T02:36:47+02:00"), 1796776607000000000);
    EXPECT_EQ(Docker::engineNanos(" 2026-12-09T00:36:47Z\n"), 1796776607000000000);
    for (const QString& odd : QStringList{"2026-12-09T00:36:47.0334435491Z", "2026-12-09 00:36:47Z",
                                          "2026-12-09T00:36:47", "2026-13-09T00:36:47Z", ""})
        EXPECT_EQ(Docker::engineNanos(odd), std::nullopt) << odd.toStdString();
}
