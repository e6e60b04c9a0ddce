#pragma once

#include "settings/SizeChoices.h"

#include <QWidget>

class QComboBox;

// A labelled pop-up of sizes ("CPUs", "Memory") that always shows the value it holds, also one
// the machine no longer offers. Only a choice the user makes emits `chosen`; filling the picker
// from a setting or a status emits nothing.
class SizePicker : public QWidget {
    Q_OBJECT

public:
    SizePicker(const QString& label, const QString& zeroTitle, const QString& unit, const QList<int>& choices,
               QWidget* parent = nullptr);

    int value() const { return m_value; }
    void setValue(int value);
    QComboBox* box() const { return m_box; }
    QList<SizeChoices::Entry> entries() const { return m_entries; }

signals:
    void chosen(int value);

private:
    void fill();

    QString m_zeroTitle;
    QString m_unit;
    QList<int> m_choices;
    QList<SizeChoices::Entry> m_entries;
    int m_value = 0;
    QComboBox* m_box;
};
