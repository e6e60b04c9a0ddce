#pragma once

#include "engine/ComposeProject.h"
#include "engine/Usage.h"

#include <QCoroTask>
#include <QDialog>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <optional>

class Alert;
class AppStore;
class BusyIndicator;
class QStackedWidget;
class ReclaimContent;
class ReclaimHeader;
class ReclaimWarning;
class VoskButton;

// The sheet that frees disk space: it measures what the engines hold afresh each time it opens,
// lists what can go (for one compose project, or everything in scope), lets the user tick items,
// warns about what nothing brings back and asks before removing such items, and has the store
// remove exactly the ticked items. Nothing is forced: an item in use again since it was measured
// fails, and the failures stay on the sheet until the user closes it.
class ReclaimView final : public QDialog {
    Q_OBJECT

public:
    static constexpr QSize size{560, 520};

    ReclaimView(AppStore& store, std::optional<ComposeProject> project, QWidget* parent = nullptr);

    const std::optional<ComposeProject>& project() const { return m_project; }
    const QSet<QString>& selected() const { return m_selected; }
    bool working() const { return m_working; }
    bool measured() const { return m_measured; }
    const QStringList& failures() const { return m_failures; }
    // Worked out afresh from the store's usage on every call, in candidate order.
    QList<Reclaimable> candidates() const;
    QList<Reclaimable> chosen() const;
    // The volumes measured as unused that something else holds, with how each is held.
    QList<std::pair<Reclaimable, QStringList>> held() const;

    // For still pictures: the store's usage as if just measured, with `selected` ticked. Nothing is
    // measured, then or when the sheet shows.
    void showMeasured(const QSet<QString>& selected);

    // Escape and the window's close button: the footer's Cancel (or Close). Nothing while a removal runs,
    // unless the application is on its way out.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QCoro::Task<> measure();
    // The removal button: asks first when anything chosen cannot come back.
    void confirm();
    QCoro::Task<> askThenRemove(QList<Reclaimable> gone);
    void remove();
    QCoro::Task<> removeItems(QList<Reclaimable> items);
    void select(const QSet<QString>& selected);
    void sync();

    AppStore& m_store;
    std::optional<ComposeProject> m_project;
    QSet<QString> m_selected;
    bool m_working = false;
    bool m_measured = false;
    bool m_measuring = false;
    QPointer<Alert> m_alert;
    QStringList m_failures;
    QMap<QString, QStringList> m_held; // volume's identifier -> how it is held

    ReclaimHeader* m_header;
    QStackedWidget* m_body;
    ReclaimContent* m_content;
    BusyIndicator* m_busy;
    ReclaimWarning* m_warning;
    VoskButton* m_cancel;
    VoskButton* m_remove;
};
