#pragma once

#include "engine/Container.h"

#include <QWidget>

// One container as a small chip: a warning triangle in error colours when it is in trouble, a dot in
// its status colour on a pill when it is live, an outline with a hollow dot when it is stopped. The
// tooltip names it with its status.
class ContainerChip : public QWidget {
    Q_OBJECT

public:
    explicit ContainerChip(const Container& c, QWidget* parent = nullptr);

    void setContainer(const Container& c);
    const Container& container() const { return m_container; }

    // What a chip or a notice calls a container: its compose service, else its name.
    static QString label(const Container& c);
    // What assistive tools call the chip: "<label>, <status>".
    QString spokenName() const;

    static constexpr double height = 22;
    static constexpr double paddingX = 8;
    static constexpr double spacing = 5;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    // The label as drawn at the chip's width: whole, or cut in the middle.
    QString shownLabel() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QFont labelFont() const;
    double indicatorWidth() const;
    void putTip();

    Container m_container;
    // The tooltip lags the status text while the pointer is elsewhere; it is put right as it comes.
    bool m_tipStale = false;
    bool m_set = false;
};
