#pragma once

#include "engine/Container.h"

#include <QWidget>

class AppStore;
class EasedValue;
class VoskButton;
class VoskLabel;

// One container in the tray panel: its status dot, its name, and the one action its state calls for
// (Resume when paused, Stop when running, Start otherwise). A wash marks the row under the pointer.
class MenuRow : public QWidget {
    Q_OBJECT

public:
    MenuRow(AppStore& store, const Container& container, QWidget* parent = nullptr);

    void showContainer(const Container& container);
    const Container& container() const { return m_container; }
    VoskButton* button() const { return m_button; }

    // The button's word for a state; the comparison is exact.
    static QString actionTitle(const QString& state);
    // Carries out that action on `container` as given.
    static void perform(AppStore& store, const Container& container);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void act();

    AppStore& m_store;
    Container m_container;
    QWidget* m_dot;
    VoskLabel* m_name;
    VoskButton* m_button;
    bool m_hovering = false;
};
