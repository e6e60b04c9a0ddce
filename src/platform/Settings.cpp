#include "platform/Settings.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace Platform {

namespace {
std::unique_ptr<QSettings> openSuite(const QString& name)
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("voskel"),
                                       name);
}

// Values read back from an INI file are texts, so a stored "true" equals a new `true`.
bool sameValue(const QVariant& stored, const QVariant& next)
{
    if (stored == next)
        return true;
    const auto scalar = [](const QVariant& v) {
        switch (v.typeId()) {
        case QMetaType::QString:
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::Double:
            return true;
        default:
            return false;
        }
    };
    return scalar(stored) && scalar(next) && stored.toString() == next.toString();
}
} // namespace

Settings::Settings(std::unique_ptr<QSettings> file) : m_file(std::move(file))
{
}

Settings::~Settings()
{
    if (m_file)
        m_file->sync();
}

std::unique_ptr<Settings> Settings::standard()
{
    return suite(QString::fromLatin1(standardSuite));
}

std::unique_ptr<Settings> Settings::suite(const QString& name)
{
    return std::unique_ptr<Settings>(new Settings(openSuite(name)));
}

std::unique_ptr<Settings> Settings::inMemory()
{
    return std::unique_ptr<Settings>(new Settings(nullptr));
}

QString Settings::suiteFile(const QString& name)
{
    return openSuite(name)->fileName();
}

QString Settings::keepSuitesIn(const QString& folder)
{
    // A suite's file is "<folder>/voskel/<suite>.ini".
    const QString before =
        QFileInfo(QFileInfo(suiteFile(QString::fromLatin1(standardSuite))).absolutePath()).absolutePath();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
    return before;
}

bool Settings::removeSuite(const QString& name)
{
    const QString file = suiteFile(name);
    return !QFile::exists(file) || QFile::remove(file);
}

bool Settings::isUsable() const
{
    if (!m_file)
        return true;
    return m_file->status() == QSettings::NoError && m_file->isWritable();
}

QString Settings::fileName() const
{
    return m_file ? m_file->fileName() : QString();
}

bool Settings::contains(const QString& key) const
{
    return m_file ? m_file->contains(key) : m_memory.contains(key);
}

QVariant Settings::value(const QString& key, const QVariant& fallback) const
{
    if (m_file)
        return m_file->value(key, fallback);
    return m_memory.value(key, fallback);
}

QString Settings::string(const QString& key, const QString& fallback) const
{
    const QVariant v = value(key);
    return v.isValid() ? v.toString() : fallback;
}

bool Settings::boolean(const QString& key, bool fallback) const
{
    const QVariant v = value(key);
    if (!v.isValid())
        return fallback;
    // The INI file gives back text; anything other than a clear yes or no keeps the fallback.
    const QString text = v.toString().trimmed().toLower();
    if (text == u"true" || text == u"1")
        return true;
    if (text == u"false" || text == u"0")
        return false;
    return fallback;
}

int Settings::integer(const QString& key, int fallback) const
{
    bool ok = false;
    const int n = value(key).toInt(&ok);
    return ok ? n : fallback;
}

double Settings::number(const QString& key, double fallback) const
{
    bool ok = false;
    const double n = value(key).toDouble(&ok);
    return ok ? n : fallback;
}

QStringList Settings::stringList(const QString& key) const
{
    const QVariant v = value(key);
    if (!v.isValid())
        return {};
    // An empty list comes back from the INI file as an empty text.
    if (v.typeId() == QMetaType::QString && v.toString().isEmpty())
        return {};
    return v.toStringList();
}

void Settings::setValue(const QString& key, const QVariant& v)
{
    if (contains(key) && sameValue(value(key), v))
        return;
    if (m_file)
        m_file->setValue(key, v);
    else
        m_memory.insert(key, v);
    emit changed(key);
}

void Settings::remove(const QString& key)
{
    if (!contains(key))
        return;
    if (m_file)
        m_file->remove(key);
    else
        m_memory.remove(key);
    emit changed(key);
}

void Settings::sync()
{
    if (m_file)
        m_file->sync();
}

} // namespace Platform
