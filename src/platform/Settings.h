#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>

class QSettings;

namespace Platform {

// The user's preferences: one INI file per suite (user scope, organisation "voskel"), or a map in
// memory for tests and for modes that must not touch the user's own file. Keys are plain strings.
// Writing a value equal to the stored one changes nothing and notifies nobody.
class Settings : public QObject {
    Q_OBJECT

public:
    static constexpr const char* standardSuite = "voskel";

    static std::unique_ptr<Settings> standard();
    static std::unique_ptr<Settings> suite(const QString& name);
    static std::unique_ptr<Settings> inMemory();
    // Deletes a suite's file; true when nothing of it is left.
    static bool removeSuite(const QString& name);
    // Where a suite's file lives.
    static QString suiteFile(const QString& name);
    // Keeps every suite's file under `folder` from now on, in place of the user's settings folder, for
    // a run that must leave the user's own alone. Returns the folder used until now. Process-wide; call
    // it while no suite is open.
    static QString keepSuitesIn(const QString& folder);

    ~Settings() override;

    bool isPersistent() const { return m_file != nullptr; }
    // False when the suite's file cannot be read or written.
    bool isUsable() const;
    QString fileName() const;

    bool contains(const QString& key) const;
    QVariant value(const QString& key, const QVariant& fallback = {}) const;
    QString string(const QString& key, const QString& fallback = {}) const;
    bool boolean(const QString& key, bool fallback) const;
    int integer(const QString& key, int fallback) const;
    double number(const QString& key, double fallback) const;
    QStringList stringList(const QString& key) const;

    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);
    // Writes pending changes to disk now (they are written on destruction anyway).
    void sync();

signals:
    void changed(const QString& key);

private:
    Settings(std::unique_ptr<QSettings> file);

    std::unique_ptr<QSettings> m_file;
    QVariantMap m_memory;
};

} // namespace Platform
